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
  if (uid == 0) {
    return admission;
  }
  std::lock_guard lock(mutex_);
  forgetFinished(awaiting_, false);
  Entries& mine = byUser_[uid];
  forgetFinished(mine, true);
  auto evict = [&](std::shared_ptr<XPCConnection> evicted, std::string reason) {
    std::erase_if(awaiting_, [&](const auto& entry) { return entry.lock() == evicted; });
    std::erase_if(byUser_[evicted->peerUserIdentifier()],
                  [&](const auto& entry) { return entry.lock() == evicted; });
    admission.evicted.emplace_back(std::move(evicted), std::move(reason));
  };
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
  awaiting_.push_back(connection);
  if (awaiting_.size() > kMaxAwaitingHandshake) {
    evict(awaiting_.front().lock(), "too many connections without a handshake");
  }
  return admission;
}

} // namespace ipc
