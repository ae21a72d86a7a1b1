#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/security/HardenedRuntime.h"

#include <string>
#include <string_view>
#include <vector>

namespace agent {

// Reads the agent's configuration from the two property lists embedded in its own executable:
// the service name to listen on and the code requirements a client must satisfy. Every
// operation throws AutoConfigError (or the property-list parser's error) on failure.
struct HelperToolAutoConfig {
  static constexpr const char* kHelperToolsDirectory = "/Library/PrivilegedHelperTools";
  static constexpr const char* kInfoSection = "__info_plist";
  static constexpr const char* kLaunchdSection = "__launchd_plist";

  // The embedded property list of `section`, whose root must be a dictionary.
  static platform::PropertyList readEmbeddedPropertyList(std::string_view section);

  static std::string machServiceName();
  static void checkLocation();
  static std::vector<std::string> authorizedClients();
  // What a client's process must show besides its signature: it runs set-group-ID to the
  // clients' group that the build names (kDefaultClientsGroupName), looked up in the group
  // database, which only root can change. Throws AutoConfigError when the group is missing.
  static platform::security::RuntimePolicy
  clientsRuntimePolicy(const std::string& groupName = platform::security::kDefaultClientsGroupName);

  // The same rules applied to property lists and paths already at hand.
  static std::string machServiceName(const platform::PropertyList& launchdPropertyList);
  static void checkLocation(const std::string& executablePath);
  static std::vector<std::string> authorizedClients(const platform::PropertyList& infoPropertyList);
  static platform::PropertyList parseEmbeddedPropertyList(std::string_view bytes,
                                                          std::string_view section);
};

} // namespace agent
