#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>
#include <variant>

namespace ipc {

// The failures of obtaining a client's code identity and of judging it.
class SecurityErrors : public platform::BridgedError {
public:
  enum class Case {
    failedToLoadSecurityCodeForClient,
    failedToLoadStaticCode,
    failedToLoadCodePath,
    failedToMakeRequirement,
    requirementNotFulfilled,
    entitlementError,
    credentialsNotAvailable,
    insecureServer,
  };

  static SecurityErrors failedToLoadSecurityCodeForClient(int32_t status) {
    return SecurityErrors(Case::failedToLoadSecurityCodeForClient, status);
  }
  static SecurityErrors failedToLoadStaticCode(int32_t status) {
    return SecurityErrors(Case::failedToLoadStaticCode, status);
  }
  static SecurityErrors failedToLoadCodePath(int32_t status) {
    return SecurityErrors(Case::failedToLoadCodePath, status);
  }
  static SecurityErrors failedToMakeRequirement(std::string requirement) {
    return SecurityErrors(Case::failedToMakeRequirement, std::move(requirement));
  }
  static SecurityErrors requirementNotFulfilled(std::string requirement) {
    return SecurityErrors(Case::requirementNotFulfilled, std::move(requirement));
  }
  static SecurityErrors entitlementError(std::string message) {
    return SecurityErrors(Case::entitlementError, std::move(message));
  }
  static SecurityErrors credentialsNotAvailable() {
    return SecurityErrors(Case::credentialsNotAvailable, std::monostate());
  }
  static SecurityErrors insecureServer() {
    return SecurityErrors(Case::insecureServer, std::monostate());
  }

  Case errorCase() const { return case_; }
  // The status of the three load failures, else 0.
  int32_t status() const;
  // The text of the requirement and entitlement failures, else empty.
  std::string text() const;

  // The form log lines show, e.g. requirementNotFulfilled("identifier \"x\"").
  std::string description() const;
  platform::NSError toNSError() const override {
    return platform::NSError::bridged("IPCProtocol_Static.SecurityErrors",
                                      static_cast<int64_t>(case_));
  }

  bool operator==(const SecurityErrors& other) const {
    return case_ == other.case_ && value_ == other.value_;
  }

private:
  using Value = std::variant<std::monostate, int32_t, std::string>;
  SecurityErrors(Case errorCase, Value value) : case_(errorCase), value_(std::move(value)) {}

  Case case_;
  Value value_;
};

} // namespace ipc
