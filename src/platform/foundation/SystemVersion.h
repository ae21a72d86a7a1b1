#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// The version of the operating system, in the three parts that operations compare.
struct SystemVersion {
  int64_t majorVersion = 0;
  int64_t minorVersion = 0;
  int64_t patchVersion = 0;

  // Whether this version is `other` or later.
  bool isAtLeast(const SystemVersion& other) const;
  // "major.minor.patch".
  std::string description() const;

  bool operator==(const SystemVersion&) const = default;

  // What the agent reports without a test provider: there is no older system underneath it,
  // so the branches written for current systems are the ones that run.
  static constexpr SystemVersion defaultVersion() { return SystemVersion{14, 0, 0}; }

  // The version from the process-wide provider.
  static SystemVersion current();

  // Replaces the provider for the whole process (tests run the branches of older systems); an
  // empty function restores the default. Install before other threads ask.
  using Provider = std::function<SystemVersion()>;
  static void setProviderForTest(Provider provider);
};

} // namespace platform
