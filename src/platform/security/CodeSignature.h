#pragma once

#include "platform/security/Certificate.h"
#include "platform/security/OpenSSLTypes.h"
#include "platform/security/SecStatus.h"
#include "platform/security/SignatureTrailer.h"
#include "platform/security/TrustAnchors.h"

#include <string>
#include <vector>

namespace platform::security {

// The signature blob of a signed file: a DER CMS SignedData with exactly one signer whose
// encapsulated content is a SignedContent. Parsing reads the structure and the content without
// trusting them; the two verify calls decide trust.
class CodeSignature {
public:
  // Parses `der`; errSecCSSignatureFailed when it is not a SignedData of the expected shape.
  static SecStatus parse(const std::string& der, CodeSignature& signature);

  const SignedContent& content() const { return content_; }
  // The signer's certificate as the blob names it (not yet verified).
  const Certificate& leaf() const { return leafSummary_; }
  // The certificates as embedded, leaf first, then each issuer found in the blob.
  const std::vector<Certificate>& embeddedChain() const { return embeddedChain_; }

  // Checks the CMS signature over the content with the signer's key (SHA-2 digests only).
  SecStatus verifySignature() const;
  // Builds and checks the chain from the signer to one of `anchors` at the current time (no
  // partial chains, expired certificates fail); on success `chain` holds it, leaf to root.
  // The leaf's key usage and extended key usage, when present, must allow code signing.
  SecStatus verifyChain(const TrustAnchors& anchors, std::vector<Certificate>& chain) const;

private:
  std::shared_ptr<CMS_ContentInfo> cms_;
  X509* leaf_ = nullptr; // owned by cms_
  std::string contentBytes_;
  SignedContent content_;
  Certificate leafSummary_;
  std::vector<Certificate> embeddedChain_;
};

} // namespace platform::security
