#pragma once

#include "platform/foundation/RegularExpression.h"
#include "platform/security/SigningInformation.h"
#include "tasks/signatures/KLVSignatureProvider.h"

#include <optional>

namespace tasks {

// Reads signatures through the code-identity layer's static code: the signing identifier, the
// team identifier (the leaf certificate's organisational unit) and the certificates.
class KLVSecurityLibraryBasedSignatureProvider final : public KLVSignatureProvider {
public:
  // The platform's status for code signed with a revoked certificate (0x8001210C).
  static constexpr int32_t kRevokedCertificateStatus = static_cast<int32_t>(0x8001210C);

  KLVSecurityLibraryBasedSignatureProvider();

  // The team identifier; when the signature carries none and the validity check (only made
  // when asked) found a revoked certificate, the first "(TEAM)" in the certificates' common
  // names.
  std::optional<std::string> fetchTeamIdentifierForPath(const std::string& path,
                                                        bool shouldCheckValidityStatus,
                                                        platform::NSError* error) const override;
  std::optional<std::string> fetchBundleIdentifierForPath(const std::string& path,
                                                          platform::NSError* error) const override;
  std::optional<std::vector<std::string>>
  fetchCertificateNamesForPath(const std::string& path, platform::NSError* error) const override;

  // The team named in parentheses in one of the common names, in the certificates' order.
  std::optional<std::string>
  teamIdentifierFromCommonNames(const std::vector<platform::security::Certificate>& chain) const;

private:
  struct Signing {
    platform::security::SigningInformation information;
    int32_t validityStatus = 0; // 0 unless the validity was checked and failed
  };
  std::optional<Signing> signingInformation(const std::string& path, bool checkValidity,
                                            platform::NSError* error) const;

  std::optional<platform::RegularExpression> revokedTeamIdentifierRegex_;
};

} // namespace tasks
