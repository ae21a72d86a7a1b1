#include "ipc/ConnectionQuota.h"

#include "ipc/XPCConnection.h"

#include <algorithm>

namespace ipc {
namespace {

bool isAwaiting(const std::shared_ptr<XPCConnection>& connection) {
  return connection && !connection->isHandshaken() && !connection->hasEnded();
}

} // namespace

void ConnectionQuota::forgetFinished(Entries& entries, bool keepHandshaken) {
  std::erase_if(entries, [keepHandshaken](const std::weak_ptr<XPCConnection>& entry) {
    auto connection = entry.lock();
    return !connection || connection->hasEnded() || (!keepHandshaken && connection->isHandshaken());
  });
}

std::shared_ptr<XPCConnection> ConnectionQuota::takeOldestAwaiting(Entries& entries) {
  for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
    auto connection = entry->lock();
    if (isAwaiting(connection)) {
      entries.erase(entry);
      return connection;
    }
  }
  return nullptr;
}

size_t ConnectionQuota::countAwaiting(const Entries& entries) {
  return static_cast<size_t>(std::count_if(
      entries.begin(), entries.end(), [](const auto& entry) { return isAwaiting(entry.lock()); }));
}

ConnectionQuota::Admission ConnectionQuota::admit(const std::shared_ptr<XPCConnection>& connection,
                                                  uid_t uid) {
  Admission admission;
  std::lock_guard lock(mutex_);
  forgetFinished(awaiting_, false);
  auto evict = [&](std::shared_ptr<XPCConnection> evicted, std::string reason) {
    std::erase_if(awaiting_, [&](const auto& entry) { return entry.lock() == evicted; });
    admission.evicted.emplace_back(std::move(evicted), std::move(reason));
  };
  if (uid != 0) {
    Entries& mine = byUser_[uid];
    forgetFinished(mine, true);
    if (mine.size() >= kMaxConnectionsPerUser) {
      auto oldest = takeOldestAwaiting(mine);
      if (!oldest) {
        admission.admitted = false;
        admission.refusal = "user " + std::to_string(uid) + " already holds " +
                            std::to_string(mine.size()) + " connections";
        return admission;
      }
      evict(std::move(oldest),
            "its user opened more than " + std::to_string(kMaxConnectionsPerUser) + " connections");
    }
    if (countAwaiting(mine) >= kMaxAwaitingHandshakePerUser) {
      evict(takeOldestAwaiting(mine), "its user has more than " +
                                          std::to_string(kMaxAwaitingHandshakePerUser) +
                                          " connections without a handshake");
    }
    mine.push_back(connection);
  }
  awaiting_.push_back(connection);
  if (awaiting_.size() > kMaxAwaitingHandshake) {
    auto oldest = awaiting_.front().lock();
    awaiting_.pop_front();
    if (auto owner = oldest ? byUser_.find(oldest->peerUserIdentifier()) : byUser_.end();
        owner != byUser_.end()) {
      std::erase_if(owner->second, [&](const auto& entry) { return entry.lock() == oldest; });
    }
    admission.evicted.emplace_back(std::move(oldest), "too many connections without a handshake");
  }
  return admission;
}

} // namespace ipc
