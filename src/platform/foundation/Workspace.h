#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Launch options of the workspace; they combine as bits.
inline constexpr uint64_t kWorkspaceLaunchWithoutActivation = 0x00000200;
inline constexpr uint64_t kWorkspaceLaunchAndHide = 0x00100000;

// One running application as the workspace sees it.
class RunningApplication {
public:
  virtual ~RunningApplication() = default;
  virtual std::string bundleIdentifier() const = 0;
  // Asks the application to end at once; false when the request could not be delivered.
  virtual bool forceTerminate() = 0;
  virtual bool isTerminated() const = 0;
};

// The desktop's applications: where they are installed, launching them, and the running ones.
// Linux has no such registry, so the shared workspace finds nothing and launches nothing;
// tests install one of their own.
class Workspace {
public:
  virtual ~Workspace() = default;

  // The installed application with `bundleIdentifier`; none when there is none.
  virtual std::optional<URL>
  URLForApplicationWithBundleIdentifier(const std::string& bundleIdentifier) const;
  // Launches the application at `url` with `options` (the kWorkspaceLaunch bits).
  virtual bool launchApplicationAtURL(const URL& url, uint64_t options, NSError* error);
  virtual std::vector<std::shared_ptr<RunningApplication>>
  runningApplicationsWithBundleIdentifier(const std::string& bundleIdentifier) const;

  // The process-wide workspace.
  static std::shared_ptr<Workspace> shared();
  // Replaces the process-wide workspace; null restores the default.
  static void setSharedForTest(std::shared_ptr<Workspace> workspace);
};

} // namespace platform
