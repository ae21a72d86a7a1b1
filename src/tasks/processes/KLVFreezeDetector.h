#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NotificationCenter.h"

#include <functional>
#include <memory>

namespace platform::dispatch {
class DispatchWorkItem;
}

namespace tasks {

// Posted on the default notification center when a watched operation outlives its time.
inline constexpr const char* kKLVFreezeDetectedNotificationName =
    "kKLVFreezeDetectedNotificationName";
// User-information keys of a freeze notification.
inline constexpr const char* kKLVFreezeFilePathKey = "kKLVFreezeFilePathKey";
inline constexpr const char* kKLVFreezeLabelKey = "kKLVFreezeLabelKey";

// A watchdog for operations that may hang: a one-shot timer that, unless cancelled first, posts
// kKLVFreezeDetectedNotificationName with the user information that the caller's block makes.
// It only reports; it never stops the watched operation.
class KLVFreezeDetector {
public:
  using Token = std::shared_ptr<platform::dispatch::DispatchWorkItem>;
  using UserInfoBlock = std::function<platform::UserInfo()>;

  // The label of the serial queue on which every freeze timer fires.
  static constexpr const char* kDetectionQueueLabel =
      "com.quillby.KLVFreezeDetector.detectionQueue";
  static constexpr double kDefaultTimeout = 5;

  // Arms a timer due after `seconds`. The block runs only if the timer fires.
  static Token detectFreezeWithTimeout(double seconds, UserInfoBlock userInfo);
  static Token detectFreezeWithUserInfo(UserInfoBlock userInfo);
  // Disarms the timer; a fired or null token is ignored.
  static void cancel(const Token& token);

  static platform::NotificationCenter::ObserverToken
  subscribeToFreezeDetectedNotificationWithObserver(platform::NotificationCenter::Block observer);
  static void unsubscribeFromFreezeDetectedNotificationWithObserver(
      platform::NotificationCenter::ObserverToken);
};

// Arms the freeze watchdog for the lifetime of a scope.
class KLVFreezeWatch {
public:
  KLVFreezeWatch(double seconds, KLVFreezeDetector::UserInfoBlock userInfo)
      : token_(KLVFreezeDetector::detectFreezeWithTimeout(seconds, std::move(userInfo))) {}
  ~KLVFreezeWatch() { KLVFreezeDetector::cancel(token_); }
  KLVFreezeWatch(const KLVFreezeWatch&) = delete;
  KLVFreezeWatch& operator=(const KLVFreezeWatch&) = delete;

private:
  KLVFreezeDetector::Token token_;
};

} // namespace tasks
