#pragma once

#include "tasks/signatures/KLVSignatureProvider.h"

#include <memory>

namespace tasks {

// Reads the signatures of installer packages through the platform's private package
// framework. That framework exists only on the platform the packages come from: here loading
// it always fails (code 103), and the signature service then reads packages like any other file.
class KLVPrivatePKGAPIBasedSignatureProvider final : public KLVSignatureProvider {
public:
  static constexpr const char* kPackageFrameworkPath =
      "/System/Library/PrivateFrameworks/PackageKit.framework/Versions/A/PackageKit";

  // The provider with its package classes loaded; none, with a code 103 error whose underlying
  // error is the loader's, when they cannot be loaded.
  static std::shared_ptr<const KLVPrivatePKGAPIBasedSignatureProvider>
  load(platform::NSError* error);

  // Packages carry no signing identifier: always none, without an error.
  std::optional<std::string> fetchBundleIdentifierForPath(const std::string& path,
                                                          platform::NSError* error) const override;
  std::optional<std::string> fetchTeamIdentifierForPath(const std::string& path,
                                                        bool shouldCheckValidityStatus,
                                                        platform::NSError* error) const override;
  std::optional<std::vector<std::string>>
  fetchCertificateNamesForPath(const std::string& path, platform::NSError* error) const override;

private:
  KLVPrivatePKGAPIBasedSignatureProvider() = default;
};

} // namespace tasks
