#include "ipc/AuthorizationRule.h"

#include "ipc/Logger.h"
#include "ipc/SecurityErrors.h"
#include "platform/foundation/PathUtilities.h"
#include "platform/security/DynamicCode.h"
#include "platform/security/Requirement.h"

namespace ipc {
namespace {

using platform::security::Requirement;
using platform::security::SecStatus;

std::vector<std::string> pathComponents(const std::string& path) {
  std::vector<std::string> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) {
      end = path.size();
    }
    if (end > start) {
      components.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return components;
}

} // namespace

bool BlockRule::isAuthorized(const XPCCredentials& credentials) const {
  return block && block(credentials);
}

bool CodeSigningRule::isAuthorized(const XPCCredentials& credentials) const {
  auto reject = [&](const SecurityErrors& failure) {
    Logger::error(
        [&] { return credentials.description + " - Rejected with: " + failure.description(); });
    return false;
  };
  Requirement requirement;
  if (!Requirement::compile(requirements, requirement).ok() || !requirement.isCompiled()) {
    return reject(SecurityErrors::failedToMakeRequirement(requirements));
  }
  if (!credentials.secCode || !credentials.secCode->checkValidity(options_, &requirement).ok()) {
    return reject(SecurityErrors::requirementNotFulfilled(requirements));
  }
  return true;
}

bool HardenedRuntimeRule::isAuthorized(const XPCCredentials& credentials) const {
  SecStatus status = credentials.secCode
                         ? credentials.secCode->checkHardenedRuntime(policy)
                         : SecStatus(platform::security::errSecCSNoSuchCode, "no code to judge");
  if (!status) {
    Logger::error(
        [&] { return credentials.description + " - Rejected with: " + status.description(); });
    return false;
  }
  return true;
}

std::optional<platform::URL> ParentBundleRule::parentBundleURL(const platform::URL& bundle) {
  auto components = pathComponents(bundle.path());
  auto contents = std::find(components.rbegin(), components.rend(), "Contents");
  if (contents == components.rend()) {
    return std::nullopt;
  }
  std::string path;
  for (auto it = components.begin(); it != contents.base() - 1; ++it) {
    path += "/" + *it;
  }
  return platform::URL::fileURLWithPath(path.empty() ? "/" : path);
}

bool ParentBundleRule::isAuthorized(const XPCCredentials& credentials) const {
  auto parent = parentBundleURL(bundle);
  if (!parent) {
    Logger::error([] { return std::string("Server does not have parent bundle"); });
    return false;
  }
  auto failToGetPath = [&](const SecurityErrors& failure) {
    Logger::error([&] {
      return credentials.description + " - failed to get path due to " + failure.description();
    });
    return false;
  };
  if (!credentials.secCode || !credentials.secCode->staticCode()) {
    return failToGetPath(
        SecurityErrors::failedToLoadStaticCode(platform::security::errSecCSNoSuchCode));
  }
  const std::string& clientPath = credentials.secCode->staticCode()->path();
  if (clientPath.empty()) {
    return failToGetPath(
        SecurityErrors::failedToLoadCodePath(platform::security::errSecCSNoSuchCode));
  }
  auto parentComponents = pathComponents(parent->path());
  auto clientComponents = pathComponents(clientPath);
  if (clientComponents.size() >= parentComponents.size() &&
      std::equal(parentComponents.begin(), parentComponents.end(), clientComponents.begin())) {
    return true;
  }
  Logger::error([&] {
    return credentials.description + " - client is not a subdirectory of parent bundle " +
           platform::abbreviatingWithTildeInPath(parent->path());
  });
  return false;
}

AnyAuthorizationRule either(AnyAuthorizationRule first, AnyAuthorizationRule second) {
  return std::make_shared<BlockRule>([first, second](const XPCCredentials& credentials) {
    // Both are asked every time, so that each refusal writes its own log line.
    bool firstGrants = first->isAuthorized(credentials);
    bool secondGrants = second->isAuthorized(credentials);
    return firstGrants || secondGrants;
  });
}

AnyAuthorizationRule both(AnyAuthorizationRule first, AnyAuthorizationRule second) {
  return std::make_shared<BlockRule>([first, second](const XPCCredentials& credentials) {
    return first->isAuthorized(credentials) && second->isAuthorized(credentials);
  });
}

SandboxEntitlement lookUpSandboxEntitlement() {
  return {SandboxEntitlement::Kind::absent, false};
}

bool isSandboxed(const std::function<SandboxEntitlement()>& lookUp) {
  SandboxEntitlement entitlement = lookUp();
  switch (entitlement.kind) {
  case SandboxEntitlement::Kind::noTask:
    throw SecurityErrors::entitlementError("SecTaskCreateFromSelf failed");
  case SandboxEntitlement::Kind::absent:
    return false;
  case SandboxEntitlement::Kind::boolean:
    return entitlement.value;
  case SandboxEntitlement::Kind::otherType:
    throw SecurityErrors::entitlementError(
        "com.apple.security.app-sandbox exists, but not a boolean");
  }
  return false;
}

} // namespace ipc
