#pragma once

#include "ipc/XPCCredentials.h"
#include "platform/foundation/URL.h"
#include "platform/security/HardenedRuntime.h"
#include "platform/security/StaticCode.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ipc {

// Judges a client by its code identity. A rule never throws: every failure inside is logged
// and counts as a refusal.
class AuthorizationRule {
public:
  virtual ~AuthorizationRule() = default;
  virtual bool isAuthorized(const XPCCredentials& credentials) const = 0;
};

// Always answers `returns`.
class AlwaysRule final : public AuthorizationRule {
public:
  explicit AlwaysRule(bool returns) : returns(returns) {}
  bool isAuthorized(const XPCCredentials&) const override { return returns; }
  bool returns;
};

// Answers whatever `block` answers.
class BlockRule final : public AuthorizationRule {
public:
  using Block = std::function<bool(const XPCCredentials&)>;
  explicit BlockRule(Block block) : block(std::move(block)) {}
  bool isAuthorized(const XPCCredentials& credentials) const override;
  Block block;
};

// Grants a client whose code satisfies one code requirement (in the requirement language).
class CodeSigningRule final : public AuthorizationRule {
public:
  explicit CodeSigningRule(std::string requirements,
                           platform::security::ValidationOptions options = {})
      : requirements(std::move(requirements)), options_(std::move(options)) {}
  bool isAuthorized(const XPCCredentials& credentials) const override;
  std::string requirements;

private:
  platform::security::ValidationOptions options_;
};

// Grants a client whose process the kernel guarantees to run only its own signed code: the
// hardened-runtime and library-validation stand-in (platform/security/HardenedRuntime.h). A
// refusal is logged with its cause.
class HardenedRuntimeRule final : public AuthorizationRule {
public:
  explicit HardenedRuntimeRule(platform::security::RuntimePolicy policy) : policy(policy) {}
  bool isAuthorized(const XPCCredentials& credentials) const override;
  platform::security::RuntimePolicy policy;
};

// Grants a client whose executable lies inside the bundle that encloses the server's bundle.
class ParentBundleRule final : public AuthorizationRule {
public:
  // `bundle` is the URL of the server's own bundle.
  explicit ParentBundleRule(platform::URL bundle) : bundle(std::move(bundle)) {}
  bool isAuthorized(const XPCCredentials& credentials) const override;
  // The bundle that encloses `bundle`: the path before its last "Contents" component.
  static std::optional<platform::URL> parentBundleURL(const platform::URL& bundle);
  platform::URL bundle;
};

using AnyAuthorizationRule = std::shared_ptr<const AuthorizationRule>;

// A rule that asks `first`, then `second`, always both, and grants when either grants.
AnyAuthorizationRule either(AnyAuthorizationRule first, AnyAuthorizationRule second);
// A rule that grants when both grant; `second` is asked only when `first` granted.
AnyAuthorizationRule both(AnyAuthorizationRule first, AnyAuthorizationRule second);

// What the own process's app-sandbox entitlement is: absent, a boolean, or something else;
// `noTask` when the process's own code could not be inspected.
struct SandboxEntitlement {
  enum class Kind { noTask, absent, boolean, otherType };
  Kind kind = Kind::absent;
  bool value = false;
};
// Linux has no entitlements: the default lookup always answers `absent`.
SandboxEntitlement lookUpSandboxEntitlement();

// Whether the own process runs in the app sandbox; throws SecurityErrors::entitlementError.
bool isSandboxed(const std::function<SandboxEntitlement()>& lookUp = lookUpSandboxEntitlement);

} // namespace ipc
