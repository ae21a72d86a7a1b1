#include "tasks/signatures/KLVPrivatePKGAPIBasedSignatureProvider.h"

#include <cerrno>
#include <sys/stat.h>

namespace tasks {

using platform::NSError;

namespace {

// The platform's "executable could not be loaded" error (NSExecutableLoadError).
constexpr int64_t kExecutableLoadError = 3587;

NSError loaderError() {
  struct stat status {};
  if (::lstat(KLVPrivatePKGAPIBasedSignatureProvider::kPackageFrameworkPath, &status) != 0) {
    return NSError::fileManagerError(
        errno, KLVPrivatePKGAPIBasedSignatureProvider::kPackageFrameworkPath, false);
  }
  // Whatever lies there cannot be a library for this system, and loading code from it as root
  // would run it: it is never opened.
  return NSError(platform::NSCocoaErrorDomain, kExecutableLoadError,
                 {{platform::NSFilePathErrorKey,
                   std::string(KLVPrivatePKGAPIBasedSignatureProvider::kPackageFrameworkPath)},
                  {platform::NSLocalizedDescriptionKey,
                   std::string("The package framework cannot be loaded on this system.")}});
}

NSError packageSignatureUnavailable() {
  return NSError(kKLVSignatureAccessErrorDomain, kKLVSignatureAccessPackageSignatureFailed);
}

} // namespace

std::shared_ptr<const KLVPrivatePKGAPIBasedSignatureProvider>
KLVPrivatePKGAPIBasedSignatureProvider::load(NSError* error) {
  platform::setError(
      error,
      NSError(kKLVSignatureAccessErrorDomain, kKLVSignatureAccessPackageClassesFailed,
              {{platform::NSUnderlyingErrorKey, std::make_shared<const NSError>(loaderError())}}));
  return nullptr;
}

std::optional<std::string>
KLVPrivatePKGAPIBasedSignatureProvider::fetchBundleIdentifierForPath(const std::string&,
                                                                     NSError*) const {
  return std::nullopt;
}

// Without the package classes no package can be opened.
std::optional<std::string>
KLVPrivatePKGAPIBasedSignatureProvider::fetchTeamIdentifierForPath(const std::string&, bool,
                                                                   NSError* error) const {
  platform::setError(error, packageSignatureUnavailable());
  return std::nullopt;
}

std::optional<std::vector<std::string>>
KLVPrivatePKGAPIBasedSignatureProvider::fetchCertificateNamesForPath(const std::string&,
                                                                     NSError* error) const {
  platform::setError(error, packageSignatureUnavailable());
  return std::nullopt;
}

} // namespace tasks
