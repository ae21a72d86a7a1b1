#pragma once

#include "platform/foundation/NSError.h"

#include <exception>
#include <mutex>
#include <optional>

namespace agentctl {

// Why the last connection attempt did not become usable. The connectable client reports only
// "not connected"; the tool records the cause here so that it can tell the user.
class StartDiagnosis {
public:
  void recordConnectionFailure(platform::NSError error) {
    std::lock_guard lock(mutex_);
    connectionFailure_ = std::move(error);
  }
  void recordHandshakeFailure(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    handshakeFailure_ = std::move(error);
  }
  std::optional<platform::NSError> connectionFailure() const {
    std::lock_guard lock(mutex_);
    return connectionFailure_;
  }
  std::exception_ptr handshakeFailure() const {
    std::lock_guard lock(mutex_);
    return handshakeFailure_;
  }

private:
  mutable std::mutex mutex_;
  std::optional<platform::NSError> connectionFailure_;
  std::exception_ptr handshakeFailure_;
};

} // namespace agentctl
