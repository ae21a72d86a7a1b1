#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// One posted notification: its name and user information.
struct Notification {
  std::string name;
  UserInfo userInfo;
};

// A small stand-in for the platform's notification center: observers register a block for a
// notification name and are called synchronously, on the posting thread, in registration order.
// Safe to use from any thread; a block may add or remove observers while it runs.
class NotificationCenter {
public:
  using ObserverToken = uint64_t;
  using Block = std::function<void(const Notification&)>;

  // The process's default center.
  static NotificationCenter& defaultCenter();

  // Calls `block` for every later post of `name`; the token removes it again.
  ObserverToken addObserver(std::string name, Block block);
  // Removes the observer; an unknown token is ignored.
  void removeObserver(ObserverToken token);
  // Calls every observer of `name` before returning. An exception thrown by a block is not ours
  // to handle: it propagates to the poster.
  void post(const std::string& name, const UserInfo& userInfo = {});

private:
  struct Observer {
    ObserverToken token;
    std::string name;
    std::shared_ptr<const Block> block;
  };

  std::mutex mutex_;
  std::vector<Observer> observers_;
  ObserverToken nextToken_ = 1;
};

} // namespace platform
