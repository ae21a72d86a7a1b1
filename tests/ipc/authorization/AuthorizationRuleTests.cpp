#include "ChildProcess.h"
#include "SecurityFixture.h"
#include "ipc/AuthorizationRule.h"
#include "ipc/Logger.h"
#include "ipc/SecurityErrors.h"
#include "ipc/server/XPCServerEngine.h"
#include "platform/security/DynamicCode.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

namespace ipc {
namespace {

using namespace platform::security::testing;
using platform::security::DynamicCode;

class LogLines {
public:
  LogLines() {
    Logger::setHandler([this](Logger::Level, const Logger::MessageBuilder& build) {
      std::lock_guard lock(mutex_);
      lines_.push_back(build());
    });
  }
  ~LogLines() { Logger::removeHandler(); }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  size_t count(const std::string& text) {
    auto all = lines();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    }));
  }

private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A running signed process and its credentials as a connection would make them.
struct RunningClient {
  explicit RunningClient(const std::string& path) : child({path}) {
    child.waitUntilReady();
    std::shared_ptr<DynamicCode> code;
    EXPECT_TRUE(DynamicCode::create(child.pid(), child.pidfd(), code).ok());
    credentials = XPCCredentials{code, "Connection<TEST>"};
  }
  ChildProcess child;
  XPCCredentials credentials;
};

const std::vector<std::string>& agentRequirements() {
  static const std::vector<std::string> requirements{kMainAppRequirement, kMenuRequirement,
                                                     kHealthMonitorRequirement};
  return requirements;
}

bool admittedByAgent(const XPCCredentials& credentials) {
  auto descriptor = XPCServerEngine::Descriptor::privilegedHelper(
      "com.quillby.Lumora5.Agent", agentRequirements(), std::nullopt, testOptions());
  return descriptor.requirement.rule->isAuthorized(credentials);
}

TEST(AgentRequirements, EachApplicationIsAdmittedAndEveryRequirementChecked) {
  const std::pair<const char*, size_t> applications[] = {{"com.quillby.Lumora5", 2},
                                                         {"com.quillby.Lumora5.Menu", 2},
                                                         {"com.quillby.Lumora5.HealthMonitor", 2}};
  for (const auto& [identifier, rejections] : applications) {
    LogLines log;
    RunningClient client(signedProgram(SECURITY_TEST_PROGRAM, std::string("app-") + identifier,
                                       identifier, world().teamLeaf));
    EXPECT_TRUE(admittedByAgent(client.credentials)) << identifier;
    // The requirements that do not match still ran, each writing its own line.
    EXPECT_EQ(log.count("Connection<TEST> - Rejected with: requirementNotFulfilled("), rejections)
        << identifier;
  }
}

TEST(AgentRequirements, ClientsThatMissAnyPartOfTheRequirementAreRefused) {
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"another identifier",
       signedProgram(SECURITY_TEST_PROGRAM, "other-id", "com.example.other", world().teamLeaf)},
      {"another team", signedProgram(SECURITY_TEST_PROGRAM, "other-team", "com.quillby.Lumora5",
                                     world().otherTeamLeaf)},
      {"untrusted chain", signedProgram(SECURITY_TEST_PROGRAM, "untrusted", "com.quillby.Lumora5",
                                        world().untrustedLeaf)},
      {"version below 0.0.1",
       signedProgram(SECURITY_TEST_PROGRAM_OLD, "old", "com.quillby.Lumora5", world().teamLeaf)},
      {"unsigned", copyProgram(SECURITY_TEST_PROGRAM, "unsigned")},
  };
  for (const Case& refused : cases) {
    LogLines log;
    RunningClient client(refused.path);
    EXPECT_FALSE(admittedByAgent(client.credentials)) << refused.name;
    EXPECT_EQ(log.count(" - Rejected with: "), 3u) << refused.name;
  }
}

TEST(CodeSigningRule, ARequirementThatDoesNotCompileIsLoggedAndTheOthersStillRun) {
  LogLines log;
  RunningClient client(
      signedProgram(SECURITY_TEST_PROGRAM, "compiles", "com.quillby.Lumora5", world().teamLeaf));
  auto descriptor = XPCServerEngine::Descriptor::privilegedHelper(
      "x", {"identifier (((", kMainAppRequirement}, std::nullopt, testOptions());
  EXPECT_TRUE(descriptor.requirement.rule->isAuthorized(client.credentials));
  EXPECT_EQ(
      log.count("Connection<TEST> - Rejected with: failedToMakeRequirement(\"identifier (((\")"),
      1u);
}

TEST(AuthorizationRules, AlwaysRuleAndEitherAskEveryRule) {
  XPCCredentials unusable{nullptr, "Connection<NONE>"};
  EXPECT_TRUE(AlwaysRule(true).isAuthorized(unusable));
  EXPECT_FALSE(AlwaysRule(false).isAuthorized(unusable));
  int asked = 0;
  auto counting = [&asked](bool answer) {
    return std::make_shared<BlockRule>([&asked, answer](const XPCCredentials&) {
      ++asked;
      return answer;
    });
  };
  EXPECT_TRUE(either(counting(true), counting(false))->isAuthorized(unusable));
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(either(counting(false), counting(false))->isAuthorized(unusable));
  EXPECT_FALSE(XPCServerEngine::Descriptor::privilegedHelper("x", {}, std::nullopt)
                   .requirement.rule->isAuthorized(unusable));
}

TEST(ParentBundleRule, ComparesWholePathComponents) {
  auto parent = ParentBundleRule::parentBundleURL(
      platform::URL::fileURLWithPath("/A/B.app/Contents/Library/C.app"));
  ASSERT_TRUE(parent);
  EXPECT_EQ(parent->path(), "/A/B.app");
  EXPECT_FALSE(ParentBundleRule::parentBundleURL(platform::URL::fileURLWithPath("/usr/bin/x")));

  namespace fs = std::filesystem;
  const fs::path base = fs::path(world().directory.path()) / "bundles";
  const std::string signedPath =
      signedProgram(SECURITY_TEST_PROGRAM, "bundled", "com.quillby.Lumora5", world().teamLeaf);
  auto place = [&](const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(signedPath, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all);
    return target.string();
  };
  const std::string inside = place(base / "A/B.app/Contents/MacOS/x");
  const std::string beside = place(base / "A/B.app2/x");
  ParentBundleRule rule(
      platform::URL::fileURLWithPath((base / "A/B.app/Contents/Library/C.app").string()));
  LogLines log;
  EXPECT_TRUE(rule.isAuthorized(RunningClient(inside).credentials));
  EXPECT_FALSE(rule.isAuthorized(RunningClient(beside).credentials));
  EXPECT_EQ(log.count(" - client is not a subdirectory of parent bundle "), 1u);
  ParentBundleRule orphan(platform::URL::fileURLWithPath("/usr/libexec/server"));
  EXPECT_FALSE(orphan.isAuthorized(RunningClient(inside).credentials));
  EXPECT_EQ(log.count("Server does not have parent bundle"), 1u);
}

TEST(IsSandboxed, AbsentBooleanOrAnotherType) {
  EXPECT_FALSE(isSandboxed());
  EXPECT_TRUE(isSandboxed([] {
    return SandboxEntitlement{SandboxEntitlement::Kind::boolean, true};
  }));
  EXPECT_FALSE(isSandboxed([] {
    return SandboxEntitlement{SandboxEntitlement::Kind::boolean, false};
  }));
  try {
    isSandboxed([] { return SandboxEntitlement{SandboxEntitlement::Kind::otherType, false}; });
    FAIL();
  } catch (const SecurityErrors& error) {
    EXPECT_EQ(error, SecurityErrors::entitlementError(
                         "com.apple.security.app-sandbox exists, but not a boolean"));
  }
  EXPECT_THROW(isSandboxed([] {
                 return SandboxEntitlement{SandboxEntitlement::Kind::noTask, false};
               }),
               SecurityErrors);
}

} // namespace
} // namespace ipc
