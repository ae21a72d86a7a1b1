#pragma once

#include "TestPKI.h"
#include "platform/security/StaticCode.h"

#include <optional>
#include <string>

namespace platform::security::testing {

// The organisation code that the agent's client requirements demand.
inline constexpr const char* kTeam = "Q4W7ZK2M9T";

// The requirement strings of the agent's authorised clients, exactly as the agent carries them.
inline const std::string kMainAppRequirement =
    "identifier \"com.quillby.Lumora5\" and info [CFBundleShortVersionString] >= \"0.0.1\" and "
    "anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"";
inline const std::string kMenuRequirement =
    "identifier \"com.quillby.Lumora5.Menu\" and info [CFBundleShortVersionString] >= \"0.0.1\" "
    "and anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"";
inline const std::string kHealthMonitorRequirement =
    "identifier \"com.quillby.Lumora5.HealthMonitor\" and info [CFBundleShortVersionString] >= "
    "\"0.0.1\" and anchor apple generic and certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"";

// Keys, certificates and a trust-anchor directory made once for the whole test run.
struct SecurityWorld {
  TemporaryDirectory directory;
  TestPKI pki{directory.path()};
  std::string anchorsDirectory;
  TestIdentity root;
  TestIdentity untrustedRoot;
  TestIdentity intermediate;
  TestIdentity teamLeaf;         // OU Q4W7ZK2M9T from the trusted root
  TestIdentity otherTeamLeaf;    // another OU from the trusted root
  TestIdentity untrustedLeaf;    // OU Q4W7ZK2M9T from an untrusted root
  TestIdentity expiredLeaf;      // OU Q4W7ZK2M9T, expired
  TestIdentity intermediateLeaf; // OU Q4W7ZK2M9T below an intermediate
  std::string chainPath;         // PEM holding the intermediate

  SecurityWorld();
};

const SecurityWorld& world();

// Copies `source` to a fresh file in the world's directory (mode 0755) and returns its path.
std::string copyProgram(const std::string& source, const std::string& name);
// A signed copy of `source`; fails the test when signing fails.
std::string signedProgram(const std::string& source, const std::string& name,
                          const std::string& identifier, const TestIdentity& identity,
                          const std::optional<std::string>& chainPath = std::nullopt);

// Options that trust the world's anchors.
ValidationOptions testOptions();

// Validates `path` against `requirementText` (none: validity only).
SecStatus validatePath(const std::string& path,
                       const std::optional<std::string>& requirementText = std::nullopt);

} // namespace platform::security::testing
