#include "operations/MaintenanceTaskOperations.h"

#include "platform/posix/ChildProcess.h"
#include "utilities/Log.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace operations {
namespace {

// The permission repair's child. The pid is signalled only while the child is not yet reaped
// (under the lock that the reaping takes), so a signal can never reach a process that later
// took over the same pid.
class RepairProcess : public std::enable_shared_from_this<RepairProcess> {
public:
  explicit RepairProcess(std::chrono::milliseconds gracePeriod) : gracePeriod_(gracePeriod) {}

  // Starts the tool with the agent's environment and standard streams; false when it was
  // cancelled before or cannot be started (`failureReason` then says why).
  bool start(const std::string& path, const std::vector<std::string>& arguments,
             std::string* failureReason) {
    platform::posix::SpawnRequest request;
    request.path = path;
    request.arguments = arguments;
    std::lock_guard lock(mutex_);
    if (cancelled_) {
      *failureReason = "the repair was cancelled before it started";
      return false;
    }
    platform::posix::SpawnFailure failure;
    auto child = platform::posix::ChildProcess::spawn(request, &failure);
    if (!child) {
      // A NUL byte would silently cut the argument short.
      *failureReason = failure.stage == platform::posix::SpawnFailure::Stage::argument
                           ? "an argument contains a NUL byte"
                           : std::strerror(failure.error);
      return false;
    }
    child_.emplace(std::move(*child));
    return true;
  }

  // Blocks until the started child exits, reaps it and answers whether it exited with 0.
  bool waitForSuccess() {
    // Waits without reaping, so that the pid stays reserved for a concurrent terminate(); only
    // the reaping needs the lock (terminate() reads nothing that the wait writes).
    child_->waitForExit();
    std::lock_guard lock(mutex_);
    return child_->reap() == 0;
  }

  // Stops a running child: SIGTERM now, SIGKILL if it is still there after the grace period.
  // The waiting side reaps it. Before the start it only keeps the child from starting.
  void terminate() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (!signalIfRunning(SIGTERM)) {
      return;
    }
    std::weak_ptr<RepairProcess> weak = weak_from_this();
    platform::dispatch::DispatchQueue::global().asyncAfter(gracePeriod_, [weak] {
      if (auto process = weak.lock()) {
        std::lock_guard lock(process->mutex_);
        process->signalIfRunning(SIGKILL);
      }
    });
  }

  bool wasCancelled() {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }

private:
  // Requires mutex_.
  bool signalIfRunning(int signal) {
    if (!child_ || child_->reaped()) {
      return false;
    }
    child_->signal(signal);
    return true;
  }

  const std::chrono::milliseconds gracePeriod_;
  std::mutex mutex_;
  std::optional<platform::posix::ChildProcess> child_; // set under mutex_ before the wait
  bool cancelled_ = false;
};

} // namespace

MaintenanceTaskOperations::MaintenanceTaskOperations()
    : MaintenanceTaskOperations(platform::dispatch::DispatchQueue::main()) {}

MaintenanceTaskOperations::MaintenanceTaskOperations(platform::dispatch::DispatchQueue repairQueue)
    : repairQueue_(std::move(repairQueue)) {}

bool MaintenanceTaskOperations::runPeriodicScript(const std::string& script) const {
  return runTool(kPeriodicPath, {script}, true);
}

bool MaintenanceTaskOperations::flushDNSCache() const {
  // Both tools run whatever the first one did.
  const bool flushed = runTool(kDscacheutilPath, {"-flushcache"}, true);
  const bool restarted = runTool(kKillallPath, {"-HUP", "mDNSResponder"}, true);
  return flushed && restarted;
}

bool MaintenanceTaskOperations::reindexSpotlight() const {
  return runTool(kMdutilPath, {"-E", "/"}, false);
}

bool MaintenanceTaskOperations::runTool(const char* path, const std::vector<std::string>& arguments,
                                        bool requireNoOutput) const {
  // Shared with the completion handler, which could in principle outlive the wait.
  auto succeeded = std::make_shared<std::atomic<bool>>(false);
  const std::string toolPath = toolRoot_ + path;
  utilities::runAndWait(kToolTimeoutSeconds, [&](std::function<void()> completion) {
    taskRunner_.launchTask(toolPath, arguments, std::string(),
                           [succeeded, completion, requireNoOutput](
                               std::optional<std::string> output, int32_t status,
                               std::optional<std::string>, std::optional<platform::NSError>) {
                             // A captured text is none when the tool printed only blanks and
                             // newlines.
                             succeeded->store(status == 0 && !(requireNoOutput && output));
                             completion();
                           });
  });
  return succeeded->load();
}

platform::reactive::AnyCancellable
MaintenanceTaskOperations::repairDiskPermissions(const std::string& userId,
                                                 std::function<void(bool)> onResult,
                                                 std::function<void()> onFinished) const {
  auto process = std::make_shared<RepairProcess>(terminationGracePeriod_);
  const std::string toolPath = toolRoot_ + kDiskutilPath;
  repairQueue_.async([process, toolPath, userId, onResult = std::move(onResult),
                      onFinished = std::move(onFinished)] {
    if (process->wasCancelled()) {
      return;
    }
    bool succeeded = false;
    std::string failureReason;
    if (process->start(toolPath, {"resetUserPermissions", "/", userId}, &failureReason)) {
      succeeded = process->waitForSuccess();
    } else if (!process->wasCancelled()) {
      // The client learns only that the repair failed; the reason stays in the agent's log.
      utilities::log("Unable to start %@: %@", {toolPath, failureReason});
    }
    if (process->wasCancelled()) {
      return;
    }
    // A block of the queue must not throw.
    try {
      onResult(succeeded);
      onFinished();
    } catch (const std::exception& exception) {
      utilities::log("Reporting the permission repair failed: %@", {exception.what()});
    }
  });
  return platform::reactive::AnyCancellable([process] { process->terminate(); });
}

} // namespace operations
