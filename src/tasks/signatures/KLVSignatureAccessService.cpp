#include "tasks/signatures/KLVSignatureAccessService.h"

#include "tasks/files/KLVURLProperties.h"
#include "tasks/processes/KLVFreezeDetector.h"
#include "tasks/signatures/KLVPrivatePKGAPIBasedSignatureProvider.h"
#include "tasks/signatures/KLVSecurityLibraryBasedSignatureProvider.h"
#include "utilities/Log.h"
#include "utilities/PathComponents.h"

#include <cctype>

namespace tasks {

using platform::NSError;

namespace {

KLVSignatureAccessService::Providers defaultProviders() {
  KLVSignatureAccessService::Providers providers;
  NSError error;
  if (auto package = KLVPrivatePKGAPIBasedSignatureProvider::load(&error)) {
    providers["pkg"] = std::move(package);
  } else {
    utilities::log("Error was occurred while initialising pkg signature provider, %@",
                   {utilities::describeError(error)});
  }
  return providers;
}

// The extension of the path's last component in lower case; "" when it has none.
std::string lowerCaseExtension(const std::string& path) {
  const std::string name = utilities::lastPathComponent(path);
  const std::string stem = utilities::deletingPathExtension(name);
  if (stem.size() >= name.size()) {
    return {};
  }
  std::string extension = name.substr(stem.size() + 1);
  for (char& character : extension) {
    character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
  }
  return extension;
}

// Watches one read for 5 seconds, naming the operation and the file.
KLVFreezeWatch watchRead(const char* label, const std::string& path) {
  return KLVFreezeWatch(KLVFreezeDetector::kDefaultTimeout, [label, path] {
    return platform::UserInfo{{kKLVFreezeFilePathKey, path},
                              {kKLVFreezeLabelKey, std::string(label)}};
  });
}

} // namespace

KLVSignatureAccessService::KLVSignatureAccessService()
    : KLVSignatureAccessService(defaultProviders(),
                                std::make_shared<KLVSecurityLibraryBasedSignatureProvider>()) {}

KLVSignatureAccessService::KLVSignatureAccessService(
    Providers providersDependedOnExtensions,
    std::shared_ptr<const KLVSignatureProvider> providerForNotHandledExtensions)
    : providersDependedOnExtensions_(std::move(providersDependedOnExtensions)),
      providerForNotHandledExtensions_(std::move(providerForNotHandledExtensions)) {
  if (!providerForNotHandledExtensions_) {
    providerForNotHandledExtensions_ = std::make_shared<KLVSecurityLibraryBasedSignatureProvider>();
  }
}

const KLVSignatureProvider&
KLVSignatureAccessService::providerForPath(const std::string& path) const {
  auto entry = providersDependedOnExtensions_.find(lowerCaseExtension(path));
  if (entry != providersDependedOnExtensions_.end() && entry->second) {
    return *entry->second;
  }
  return *providerForNotHandledExtensions_;
}

std::optional<std::string> KLVSignatureAccessService::fetchTeamIdentifierForPath(
    const std::string& path, bool shouldCheckValidityStatus, NSError* error) const {
  auto watch = watchRead("KLVSignatureAccessService.fetchTeamIdentifierForPath", path);
  return providerForPath(path).fetchTeamIdentifierForPath(path, shouldCheckValidityStatus, error);
}

std::optional<std::string>
KLVSignatureAccessService::fetchBundleIdentifierForPath(const std::string& path,
                                                        NSError* error) const {
  auto watch = watchRead("KLVSignatureAccessService.fetchBundleIdentifierForPath", path);
  return providerForPath(path).fetchBundleIdentifierForPath(path, error);
}

std::optional<std::vector<std::string>>
KLVSignatureAccessService::fetchCertificateNamesForPath(const std::string& path,
                                                        NSError* error) const {
  auto watch = watchRead("KLVSignatureAccessService.fetchCertificateNamesForPath", path);
  return providerForPath(path).fetchCertificateNamesForPath(path, error);
}

std::optional<std::string> KLVSignatureAccessService::fetchTeamIdentifierForURL(
    const platform::URL& url, bool shouldCheckValidityStatus, NSError* error) const {
  const std::string path = klv_fileSystemPath(url);
  if (path.empty()) {
    return std::nullopt;
  }
  return fetchTeamIdentifierForPath(path, shouldCheckValidityStatus, error);
}

std::optional<std::string>
KLVSignatureAccessService::fetchBundleIdentifierForURL(const platform::URL& url,
                                                       NSError* error) const {
  const std::string path = klv_fileSystemPath(url);
  if (path.empty()) {
    return std::nullopt;
  }
  return fetchBundleIdentifierForPath(path, error);
}

std::optional<std::vector<std::string>>
KLVSignatureAccessService::fetchCertificateNamesForURL(const platform::URL& url,
                                                       NSError* error) const {
  const std::string path = klv_fileSystemPath(url);
  if (path.empty()) {
    return std::nullopt;
  }
  return fetchCertificateNamesForPath(path, error);
}

} // namespace tasks
