#include "platform/security/CodeSignature.h"

#include <openssl/x509v3.h>

namespace platform::security {

namespace {

SecStatus invalid(const std::string& reason) {
  return SecStatus(errSecCSSignatureFailed, reason);
}

bool isAcceptedDigest(int nid) {
  return nid == NID_sha256 || nid == NID_sha384 || nid == NID_sha512;
}

// The embedded certificates ordered leaf first, each followed by its issuer when present.
std::vector<Certificate> orderedChain(X509* leaf, STACK_OF(X509) * certificates) {
  std::vector<Certificate> chain;
  X509* current = leaf;
  for (int step = 0; current != nullptr && step < 16; ++step) {
    chain.push_back(Certificate::of(current));
    if (X509_check_issued(current, current) == X509_V_OK) {
      break;
    }
    X509* issuer = nullptr;
    for (int index = 0; certificates && index < sk_X509_num(certificates); ++index) {
      X509* candidate = sk_X509_value(certificates, index);
      if (candidate != current && X509_check_issued(candidate, current) == X509_V_OK) {
        issuer = candidate;
        break;
      }
    }
    current = issuer;
  }
  return chain;
}

} // namespace

SecStatus CodeSignature::parse(const std::string& der, CodeSignature& signature) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  CMS_ContentInfo* raw = d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size()));
  if (raw == nullptr) {
    return invalid(takeOpenSSLError("signature is not a CMS structure"));
  }
  signature.cms_.reset(raw, CMS_ContentInfo_free);
  if (cursor != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
    return invalid("signature has trailing bytes");
  }
  if (OBJ_obj2nid(CMS_get0_type(raw)) != NID_pkcs7_signed) {
    return invalid("signature is not a SignedData");
  }
  if (OBJ_obj2nid(CMS_get0_eContentType(raw)) != NID_pkcs7_data) {
    return invalid("signature content has an unexpected type");
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(raw);
  if (signers == nullptr || sk_CMS_SignerInfo_num(signers) != 1) {
    return invalid("signature must have exactly one signer");
  }
  ASN1_OCTET_STRING** content = CMS_get0_content(raw);
  if (content == nullptr || *content == nullptr) {
    return invalid("signature carries no content");
  }
  signature.contentBytes_.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(*content)),
                                 static_cast<size_t>(ASN1_STRING_length(*content)));
  std::string failure;
  auto parsed = SignedContent::parse(signature.contentBytes_, &failure);
  if (!parsed) {
    return invalid(failure);
  }
  signature.content_ = std::move(*parsed);

  // Match the signer to one of the embedded certificates.
  if (CMS_set1_signers_certs(raw, nullptr, 0) != 1) {
    ERR_clear_error();
    return invalid("signature does not carry its signer's certificate");
  }
  CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
  X509* leaf = nullptr;
  X509_ALGOR* digestAlgorithm = nullptr;
  CMS_SignerInfo_get0_algs(signer, nullptr, &leaf, &digestAlgorithm, nullptr);
  if (leaf == nullptr) {
    return invalid("signature does not carry its signer's certificate");
  }
  const ASN1_OBJECT* digestObject = nullptr;
  X509_ALGOR_get0(&digestObject, nullptr, nullptr, digestAlgorithm);
  if (!isAcceptedDigest(OBJ_obj2nid(digestObject))) {
    return invalid("signature uses a digest other than SHA-2");
  }
  signature.leaf_ = leaf;
  signature.leafSummary_ = Certificate::of(leaf);
  X509StackPtr certificates(CMS_get1_certs(raw));
  signature.embeddedChain_ = orderedChain(leaf, certificates.get());
  return SecStatus::success();
}

SecStatus CodeSignature::verifySignature() const {
  if (!cms_) {
    return invalid("no signature");
  }
  BioPtr out(BIO_new(BIO_s_mem()));
  if (CMS_verify(cms_.get(), nullptr, nullptr, nullptr, out.get(),
                 CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
    return invalid(takeOpenSSLError("signature does not verify"));
  }
  // Make sure that what was verified is exactly the content that was parsed.
  char* verified = nullptr;
  long length = BIO_get_mem_data(out.get(), &verified);
  if (length < 0 || std::string_view(verified, static_cast<size_t>(length)) != contentBytes_) {
    return invalid("verified content differs from the parsed content");
  }
  return SecStatus::success();
}

SecStatus CodeSignature::verifyChain(const TrustAnchors& anchors,
                                     std::vector<Certificate>& chain) const {
  if (leaf_ == nullptr) {
    return invalid("no signer certificate");
  }
  X509StackPtr untrusted(CMS_get1_certs(cms_.get()));
  X509StoreContextPtr context(X509_STORE_CTX_new());
  if (!context ||
      X509_STORE_CTX_init(context.get(), anchors.store(), leaf_, untrusted.get()) != 1) {
    return invalid(takeOpenSSLError("cannot start chain verification"));
  }
  if (X509_verify_cert(context.get()) != 1) {
    int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    return invalid(std::string("certificate chain not trusted: ") +
                   X509_verify_cert_error_string(error));
  }
  // Loose purpose check: constraints that are present must allow signing code.
  uint32_t flags = X509_get_extension_flags(leaf_);
  if ((flags & EXFLAG_KUSAGE) && !(X509_get_key_usage(leaf_) & KU_DIGITAL_SIGNATURE)) {
    return invalid("signing certificate's key usage does not allow signatures");
  }
  if ((flags & EXFLAG_XKUSAGE) &&
      !(X509_get_extended_key_usage(leaf_) & (XKU_CODE_SIGN | XKU_ANYEKU))) {
    return invalid("signing certificate's extended key usage does not allow code signing");
  }
  X509StackPtr verified(X509_STORE_CTX_get1_chain(context.get()));
  chain.clear();
  for (int index = 0; verified && index < sk_X509_num(verified.get()); ++index) {
    chain.push_back(Certificate::of(sk_X509_value(verified.get(), index)));
  }
  return SecStatus::success();
}

} // namespace platform::security
