#pragma once

#include "platform/foundation/UUID.h"

#include <mutex>
#include <set>

namespace ipc {

// The sequences a client started and that have not ended yet.
class SequenceIDStorage {
public:
  void insert(const platform::UUID& identifier) {
    std::lock_guard lock(lock_);
    identifiers_.insert(identifier);
  }
  void remove(const platform::UUID& identifier) {
    std::lock_guard lock(lock_);
    identifiers_.erase(identifier);
  }
  bool contains(const platform::UUID& identifier) const {
    std::lock_guard lock(lock_);
    return identifiers_.contains(identifier);
  }
  size_t count() const {
    std::lock_guard lock(lock_);
    return identifiers_.size();
  }

private:
  mutable std::mutex lock_;
  std::set<platform::UUID> identifiers_;
};

} // namespace ipc
