#pragma once

#include "platform/xpc/Message.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace platform::xpc {

class Connection;

// The way to answer one incoming call-with-reply. Copies share one state: the first call on
// any of them sends, later calls are ignored. An empty Reply (false) belongs to a call without
// reply. Holds the connection weakly: a reply to a connection that is gone goes nowhere.
class Reply {
public:
  Reply() = default;

  // Whether the caller expects a reply.
  explicit operator bool() const { return state_ != nullptr; }

  // Sends `reply`; false if this call was already answered, expects no reply, or the
  // connection is gone or the write failed.
  bool operator()(Message reply) const;

private:
  friend class Connection;
  struct State {
    std::weak_ptr<Connection> connection;
    uint64_t callId = 0;
    std::atomic<bool> used{false};
    // An unanswered call counts as in flight until its last copy is gone.
    ~State();
  };
  explicit Reply(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

} // namespace platform::xpc
