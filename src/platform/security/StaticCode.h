#pragma once

#include "platform/security/CodeSignature.h"
#include "platform/security/DigestCache.h"
#include "platform/security/Requirement.h"
#include "platform/security/SecStatus.h"
#include "platform/security/SignatureTrailer.h"
#include "platform/security/SigningInformation.h"
#include "platform/security/UniqueFd.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform::security {

// Validation flags, with the platform's values.
inline constexpr uint32_t kSecCSDefaultFlags = 0;
inline constexpr uint32_t kSecCSDoNotValidateExecutable = 1u << 1; // skip hashing the code
inline constexpr uint32_t kSecCSDoNotValidateResources = 1u << 2;  // no resources here: ignored

// How to validate.
struct ValidationOptions {
  uint32_t flags = kSecCSDefaultFlags;
  // The trust anchors; none means the production directory with its ownership checks.
  std::optional<std::string> anchorsDirectory;
  // Reuse the digest of a file already hashed whose stamp has not changed.
  bool useDigestCache = true;
};

// Code on disk: one opened regular file and the signature found at its end. The descriptor
// stays open, so every check reads the same file even when the path is replaced. The checks
// may run on several threads at once.
class StaticCode {
public:
  // Opens `path` (following links, as the path names it). errSecCSStaticCodeNotFound when it
  // cannot be opened or is not a regular file. An unsigned or malformed signature does not fail
  // creation; it is reported by the checks below.
  static SecStatus createWithPath(const std::string& path, std::shared_ptr<StaticCode>& code);
  // Takes an already opened descriptor (for example of /proc/PID/exe).
  static SecStatus createWithDescriptor(UniqueFd fd, const std::string& path,
                                        std::shared_ptr<StaticCode>& code);

  const std::string& path() const { return path_; }
  // Device, inode, size and times of the file when it was opened.
  const FileStamp& stamp() const { return stamp_; }
  int descriptor() const { return fd_.get(); }
  // errSecSuccess when a well-formed signature was found, else errSecCSUnsigned or
  // errSecCSSignatureFailed.
  const SecStatus& signatureStatus() const { return signatureStatus_; }

  // The signing information without any check of trust (like the platform's query of signing
  // information without validation): identifier, team, certificates as embedded, Info list.
  SecStatus copySigningInformation(SigningInformation& information) const;

  // Checks that the signature verifies, that its chain leads to a trust anchor, that the code
  // bytes hash to the signed digest (unless kSecCSDoNotValidateExecutable) and, when given,
  // that the code satisfies `requirement`. On success `validated` (if given) receives the
  // verified signing information.
  SecStatus checkValidity(const ValidationOptions& options, const Requirement* requirement,
                          SigningInformation* validated = nullptr) const;

private:
  SecStatus verifyCode(const ValidationOptions& options, SigningInformation& information) const;
  std::shared_ptr<const PropertyList> readInfoUnverified() const;

  UniqueFd fd_;
  std::string path_;
  FileStamp stamp_;
  SecStatus signatureStatus_;
  SignatureTrailer trailer_;
  CodeSignature signature_;
  mutable std::mutex signatureLock_;
};

} // namespace platform::security
