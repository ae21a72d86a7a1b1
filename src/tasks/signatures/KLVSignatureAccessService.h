#pragma once

#include "platform/foundation/URL.h"
#include "tasks/signatures/KLVSignatureProvider.h"

#include <map>
#include <memory>

namespace tasks {

// Reads code-signing facts of a file with the provider chosen by the file's extension (in
// lower case), or the fallback for every other extension. Each read is watched by the freeze
// detector for 5 seconds.
class KLVSignatureAccessService {
public:
  using Providers = std::map<std::string, std::shared_ptr<const KLVSignatureProvider>>;

  // "pkg" is read by the package provider when it loads (otherwise its failure is logged and
  // packages fall back); everything else by the code-identity provider.
  KLVSignatureAccessService();
  KLVSignatureAccessService(
      Providers providersDependedOnExtensions,
      std::shared_ptr<const KLVSignatureProvider> providerForNotHandledExtensions);

  // The URL forms read the URL's file-system path; a URL without one gives none, without error.
  std::optional<std::string> fetchTeamIdentifierForURL(const platform::URL& url,
                                                       bool shouldCheckValidityStatus,
                                                       platform::NSError* error) const;
  std::optional<std::string> fetchBundleIdentifierForURL(const platform::URL& url,
                                                         platform::NSError* error) const;
  std::optional<std::vector<std::string>>
  fetchCertificateNamesForURL(const platform::URL& url, platform::NSError* error) const;

  std::optional<std::string> fetchTeamIdentifierForPath(const std::string& path,
                                                        bool shouldCheckValidityStatus,
                                                        platform::NSError* error) const;
  std::optional<std::string> fetchBundleIdentifierForPath(const std::string& path,
                                                          platform::NSError* error) const;
  std::optional<std::vector<std::string>>
  fetchCertificateNamesForPath(const std::string& path, platform::NSError* error) const;

  const Providers& providersDependedOnExtensions() const { return providersDependedOnExtensions_; }

private:
  const KLVSignatureProvider& providerForPath(const std::string& path) const;

  Providers providersDependedOnExtensions_;
  std::shared_ptr<const KLVSignatureProvider> providerForNotHandledExtensions_;
};

} // namespace tasks
