#include "tasks/processes/KLVFreezeDetector.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchWorkItem.h"
#include "utilities/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace tasks {
namespace {

const platform::dispatch::DispatchQueue& detectionQueue() {
  // Created once per process. The queue fires timers whenever they are due: the platform's
  // 0.1 second leeway needs no counterpart, because this timer never fires early.
  static const platform::dispatch::DispatchQueue queue(KLVFreezeDetector::kDetectionQueueLabel);
  return queue;
}

std::chrono::nanoseconds delayOf(double seconds) {
  if (!(seconds > 0)) {
    return std::chrono::nanoseconds(0);
  }
  // A limit of a day or more is as good as none, and keeps the conversion in range.
  const double bounded = std::min(seconds, 86400.0);
  return std::chrono::nanoseconds(static_cast<int64_t>(std::llround(bounded * 1e9)));
}

} // namespace

KLVFreezeDetector::Token KLVFreezeDetector::detectFreezeWithTimeout(double seconds,
                                                                    UserInfoBlock userInfo) {
  return detectionQueue().asyncAfter(delayOf(seconds), [userInfo = std::move(userInfo)] {
    // A block on a dispatch queue must not throw: a failing user-information block still
    // reports the freeze, without details.
    platform::UserInfo info;
    try {
      if (userInfo) {
        info = userInfo();
      }
    } catch (const std::exception& exception) {
      utilities::log("Freeze detector could not describe the operation: %@", {exception.what()});
    }
    try {
      platform::NotificationCenter::defaultCenter().post(kKLVFreezeDetectedNotificationName, info);
    } catch (const std::exception& exception) {
      utilities::log("Freeze observer failed: %@", {exception.what()});
    }
  });
}

KLVFreezeDetector::Token KLVFreezeDetector::detectFreezeWithUserInfo(UserInfoBlock userInfo) {
  return detectFreezeWithTimeout(kDefaultTimeout, std::move(userInfo));
}

void KLVFreezeDetector::cancel(const Token& token) {
  if (token) {
    token->cancel();
  }
}

platform::NotificationCenter::ObserverToken
KLVFreezeDetector::subscribeToFreezeDetectedNotificationWithObserver(
    platform::NotificationCenter::Block observer) {
  return platform::NotificationCenter::defaultCenter().addObserver(
      kKLVFreezeDetectedNotificationName, std::move(observer));
}

void KLVFreezeDetector::unsubscribeFromFreezeDetectedNotificationWithObserver(
    platform::NotificationCenter::ObserverToken token) {
  platform::NotificationCenter::defaultCenter().removeObserver(token);
}

} // namespace tasks
