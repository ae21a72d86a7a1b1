#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tasks {

// The errors of the signature access service and its providers.
inline constexpr const char* kKLVSignatureAccessErrorDomain = "SignatureAccessErrorDomain";
enum KLVSignatureAccessErrorCode : int64_t {
  kKLVSignatureAccessStaticCodeFailed = 101,         // no code object for the path
  kKLVSignatureAccessSigningInformationFailed = 102, // the signing information could not be read
  kKLVSignatureAccessPackageClassesFailed = 103,     // the package framework could not be loaded
  kKLVSignatureAccessPackageSignatureFailed = 104,   // package unreadable or unsigned
};

// Reads the code-signing facts of one kind of file. An answer of none without an error means
// that the file has no such fact.
class KLVSignatureProvider {
public:
  virtual ~KLVSignatureProvider() = default;

  virtual std::optional<std::string> fetchTeamIdentifierForPath(const std::string& path,
                                                                bool shouldCheckValidityStatus,
                                                                platform::NSError* error) const = 0;
  virtual std::optional<std::string>
  fetchBundleIdentifierForPath(const std::string& path, platform::NSError* error) const = 0;
  // The common names of the signing certificates, leaf first.
  virtual std::optional<std::vector<std::string>>
  fetchCertificateNamesForPath(const std::string& path, platform::NSError* error) const = 0;
};

} // namespace tasks
