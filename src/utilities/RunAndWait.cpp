#include "utilities/LRTaskRunner.h"
#include "utilities/Log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace utilities {
namespace {

constexpr int64_t kLongestWaitSeconds = int64_t(100) * 365 * 24 * 3600;

// Shared with the completion callback, so that a callback arriving after the time-out finds
// live state.
struct Completion {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
};

} // namespace

void runAndWait(int64_t timeoutSeconds,
                const std::function<void(std::function<void()> completion)>& action) {
  try {
    auto completion = std::make_shared<Completion>();
    action([completion] {
      std::lock_guard lock(completion->mutex);
      completion->done = true;
      completion->changed.notify_all();
    });
    std::unique_lock lock(completion->mutex);
    // Clamped so that a huge time-out cannot overflow the clock arithmetic.
    const int64_t seconds = std::clamp<int64_t>(timeoutSeconds, 0, kLongestWaitSeconds);
    completion->changed.wait_for(lock, std::chrono::seconds(seconds),
                                 [&] { return completion->done; });
  } catch (const std::exception& exception) {
    log("runAndWait: the action failed: %@", {exception.what()});
  }
}

} // namespace utilities
