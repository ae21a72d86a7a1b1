#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
  // Leaked on purpose: posts may come from threads that outlive static destruction.
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string name, Block block) {
  std::lock_guard<std::mutex> guard(mutex_);
  const ObserverToken token = nextToken_++;
  observers_.push_back({token, std::move(name), std::make_shared<const Block>(std::move(block))});
  return token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::erase_if(observers_, [token](const Observer& observer) { return observer.token == token; });
}

void NotificationCenter::post(const std::string& name, const UserInfo& userInfo) {
  // The blocks run outside the lock, so that they may add or remove observers themselves.
  std::vector<std::shared_ptr<const Block>> blocks;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const Observer& observer : observers_) {
      if (observer.name == name && *observer.block) {
        blocks.push_back(observer.block);
      }
    }
  }
  const Notification notification{name, userInfo};
  for (const auto& block : blocks) {
    (*block)(notification);
  }
}

} // namespace platform
