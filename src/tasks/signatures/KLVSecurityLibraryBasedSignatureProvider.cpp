#include "tasks/signatures/KLVSecurityLibraryBasedSignatureProvider.h"

#include "platform/security/StaticCode.h"

namespace tasks {

using platform::NSError;
namespace security = platform::security;

namespace {

NSError signatureError(int64_t code, const security::SecStatus& status, const std::string& path) {
  return NSError(
      kKLVSignatureAccessErrorDomain, code,
      {{platform::NSUnderlyingErrorKey, std::make_shared<const NSError>(status.toNSError())},
       {platform::NSFilePathErrorKey, path}});
}

// The certificates that a signature carries, leaf first.
const std::vector<security::Certificate>& chainOf(const security::SigningInformation& information,
                                                  std::vector<security::Certificate>& leafOnly) {
  if (!information.certificates.empty()) {
    return information.certificates;
  }
  leafOnly = {information.leaf};
  return leafOnly;
}

} // namespace

KLVSecurityLibraryBasedSignatureProvider::KLVSecurityLibraryBasedSignatureProvider()
    : revokedTeamIdentifierRegex_(platform::RegularExpression::make(
          "\\((\\w+)\\)", platform::RegularExpression::kCaseInsensitive)) {}

std::optional<KLVSecurityLibraryBasedSignatureProvider::Signing>
KLVSecurityLibraryBasedSignatureProvider::signingInformation(const std::string& path,
                                                             bool checkValidity,
                                                             NSError* error) const {
  std::shared_ptr<security::StaticCode> code;
  if (security::SecStatus status = security::StaticCode::createWithPath(path, code); !status) {
    platform::setError(error, signatureError(kKLVSignatureAccessStaticCodeFailed, status, path));
    return std::nullopt;
  }
  Signing signing;
  if (checkValidity) {
    // Only the signature and its chain: neither the code bytes nor resources are hashed.
    security::ValidationOptions options;
    options.flags =
        security::kSecCSDoNotValidateExecutable | security::kSecCSDoNotValidateResources;
    signing.validityStatus = code->checkValidity(options, nullptr).code();
  }
  if (security::SecStatus status = code->copySigningInformation(signing.information); !status) {
    platform::setError(error,
                       signatureError(kKLVSignatureAccessSigningInformationFailed, status, path));
    return std::nullopt;
  }
  return signing;
}

std::optional<std::string> KLVSecurityLibraryBasedSignatureProvider::fetchTeamIdentifierForPath(
    const std::string& path, bool shouldCheckValidityStatus, NSError* error) const {
  auto signing = signingInformation(path, shouldCheckValidityStatus, error);
  if (!signing) {
    return std::nullopt;
  }
  if (signing->information.teamIdentifier) {
    return signing->information.teamIdentifier;
  }
  if (signing->validityStatus != kRevokedCertificateStatus) {
    return std::nullopt;
  }
  std::vector<security::Certificate> leafOnly;
  return teamIdentifierFromCommonNames(chainOf(signing->information, leafOnly));
}

std::optional<std::string> KLVSecurityLibraryBasedSignatureProvider::teamIdentifierFromCommonNames(
    const std::vector<security::Certificate>& chain) const {
  if (!revokedTeamIdentifierRegex_) {
    return std::nullopt;
  }
  for (const security::Certificate& certificate : chain) {
    auto commonName = certificate.firstSubjectValue("CN");
    if (!commonName) {
      continue;
    }
    auto match = revokedTeamIdentifierRegex_->firstMatch(*commonName);
    if (match && match->group(1) && !match->group(1)->empty()) {
      return std::string(*match->group(1));
    }
  }
  return std::nullopt;
}

std::optional<std::string>
KLVSecurityLibraryBasedSignatureProvider::fetchBundleIdentifierForPath(const std::string& path,
                                                                       NSError* error) const {
  auto signing = signingInformation(path, false, error);
  if (!signing || signing->information.identifier.empty()) {
    return std::nullopt;
  }
  return signing->information.identifier;
}

std::optional<std::vector<std::string>>
KLVSecurityLibraryBasedSignatureProvider::fetchCertificateNamesForPath(const std::string& path,
                                                                       NSError* error) const {
  auto signing = signingInformation(path, false, error);
  if (!signing) {
    return std::nullopt;
  }
  std::vector<security::Certificate> leafOnly;
  std::vector<std::string> names;
  for (const security::Certificate& certificate : chainOf(signing->information, leafOnly)) {
    if (auto commonName = certificate.firstSubjectValue("CN")) {
      names.push_back(std::move(*commonName));
    }
  }
  return names;
}

} // namespace tasks
