#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/Cancellable.h"
#include "utilities/LRTaskRunner.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace operations {

// Runs the system's own maintenance tools with root rights for a client: the periodic
// maintenance scripts, the DNS cache flush, the Spotlight re-index and the reset of a user's
// home folder permissions. Every tool is named by absolute path and gets the client's texts as
// single arguments, never through a shell. Safe to call from several threads at once.
class MaintenanceTaskOperations {
public:
  static constexpr const char* kPeriodicPath = "/usr/sbin/periodic";
  static constexpr const char* kDscacheutilPath = "/usr/bin/dscacheutil";
  static constexpr const char* kKillallPath = "/usr/bin/killall";
  static constexpr const char* kMdutilPath = "/usr/bin/mdutil";
  static constexpr const char* kDiskutilPath = "/usr/sbin/diskutil";
  static constexpr int64_t kToolTimeoutSeconds = 2;
  // How long a cancelled permission repair may take to end after SIGTERM before it is killed.
  static constexpr std::chrono::seconds kTerminationGracePeriod{2};

  // The permission repair runs its tool on the main queue.
  MaintenanceTaskOperations();
  // The permission repair runs its tool on `repairQueue` (tests use a queue of their own).
  explicit MaintenanceTaskOperations(platform::dispatch::DispatchQueue repairQueue);

  // Runs periodic with `script` as its only argument; true when it exits with status 0 and
  // prints nothing but blanks and newlines on its standard output.
  bool runPeriodicScript(const std::string& script) const;
  // Runs dscacheutil "-flushcache", then killall "-HUP" "mDNSResponder", always both; true
  // when both exit with status 0 and print nothing on their standard output.
  bool flushDNSCache() const;
  // Runs mdutil "-E" "/"; true when it exits with status 0.
  bool reindexSpotlight() const;

  // Starts diskutil "resetUserPermissions" "/" `userId` on the repair queue, as a child that
  // keeps the agent's environment and standard streams, and waits there for its exit. Then
  // `onResult` gets true for exit status 0 (false otherwise, also when the tool cannot be
  // started) and `onFinished` is called. The returned cancellable ends the repair: a running
  // tool gets SIGTERM (SIGKILL after kTerminationGracePeriod) and is reaped, and once the
  // waiting side has seen the cancel, neither callback is called.
  platform::reactive::AnyCancellable repairDiskPermissions(const std::string& userId,
                                                           std::function<void(bool)> onResult,
                                                           std::function<void()> onFinished) const;

  // Prefixes every tool path with `root` (tests run stub tools).
  void setToolRootForTest(std::string root) { toolRoot_ = std::move(root); }
  // Shortens the wait between SIGTERM and SIGKILL of a cancelled repair.
  void setTerminationGracePeriodForTest(std::chrono::milliseconds period) {
    terminationGracePeriod_ = period;
  }

private:
  // Runs the tool with an empty standard input and waits for it; true when it exits with
  // status 0 and, if `requireNoOutput`, printed nothing on its standard output.
  bool runTool(const char* path, const std::vector<std::string>& arguments,
               bool requireNoOutput) const;

  utilities::LRTaskRunner taskRunner_;
  platform::dispatch::DispatchQueue repairQueue_;
  std::string toolRoot_;
  std::chrono::milliseconds terminationGracePeriod_ = kTerminationGracePeriod;
};

} // namespace operations
