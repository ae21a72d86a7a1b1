#pragma once

#include <string>
#include <vector>

namespace lipo {

// The per-application architecture choices the user made in the launch services preferences:
// the bundle identifiers set to run as arm64 and as x86_64.
class LRApplicationLaunchServices {
public:
  // Reads "~/Library/Preferences/com.apple.LaunchServices/com.apple.LaunchServices.plist".
  LRApplicationLaunchServices();
  // Reads the property list at `path`; a missing or unreadable file gives empty lists.
  explicit LRApplicationLaunchServices(const std::string& path);
  LRApplicationLaunchServices(std::vector<std::string> bundleIdentifiersForArm64,
                              std::vector<std::string> bundleIdentifiersForx86_64);

  const std::vector<std::string>& bundleIdentifiersForArm64() const {
    return bundleIdentifiersForArm64_;
  }
  const std::vector<std::string>& bundleIdentifiersForx86_64() const {
    return bundleIdentifiersForx86_64_;
  }

  // Whether the user chose an architecture for `bundleIdentifier` (compared ignoring case).
  bool architectureWasChangedForBundleIdentifier(const std::string& bundleIdentifier) const;

private:
  std::vector<std::string> bundleIdentifiersForArm64_;
  std::vector<std::string> bundleIdentifiersForx86_64_;
};

} // namespace lipo
