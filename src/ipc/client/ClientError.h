#pragma once

#include "platform/foundation/NSError.h"

namespace ipc {

// The client side's own failures.
class ClientError : public platform::BridgedError {
public:
  enum class Case { engineAlreadyStarted, notConnected };

  static ClientError engineAlreadyStarted() { return ClientError(Case::engineAlreadyStarted); }
  static ClientError notConnected() { return ClientError(Case::notConnected); }

  Case errorCase() const { return case_; }
  std::string description() const {
    return case_ == Case::engineAlreadyStarted ? "engineAlreadyStarted" : "notConnected";
  }
  platform::NSError toNSError() const override {
    return platform::NSError::bridged("IPCProtocol_Static.ClientError",
                                      static_cast<int64_t>(case_));
  }
  bool operator==(const ClientError& other) const { return case_ == other.case_; }

private:
  explicit ClientError(Case value) : case_(value) {}
  Case case_;
};

} // namespace ipc
