#pragma once

#include "platform/foundation/NSError.h"

#include <string>

namespace agent {

// The one error of the self-configuration: the agent is misconfigured, and the text says how.
class AutoConfigError : public platform::BridgedError {
public:
  static AutoConfigError misconfigured(std::string text) {
    return AutoConfigError(std::move(text));
  }

  // The debug description: the carried text, unchanged.
  const std::string& text() const { return text_; }
  platform::NSError toNSError() const override {
    return platform::NSError::bridged("PrivilegedAgent.HelperToolAutoConfig.AutoConfigError", 0);
  }

private:
  explicit AutoConfigError(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

} // namespace agent
