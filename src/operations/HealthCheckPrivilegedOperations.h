#pragma once

#include "api/HealthCheckResponse.h"
#include "platform/foundation/PropertyList.h"

#include <string>

namespace operations {

// Tells a client that the agent is alive, which version of it runs and what time it is.
// Stateless: any number of health checks may run at once.
class HealthCheckPrivilegedOperations {
public:
  static constexpr const char* kVersionKey = "CFBundleShortVersionString";
  static constexpr const char* kUnknownVersion = "unknown";

  // The agent's short version and the current time (taken after the version was read).
  api::HealthCheckResponse healthCheck() const;

  // The short version string of an information dictionary; "unknown" when there is no
  // dictionary, no such key, or a value that is not a string.
  static std::string versionFromInfoDictionary(const platform::PropertyList* infoDictionary);
};

} // namespace operations
