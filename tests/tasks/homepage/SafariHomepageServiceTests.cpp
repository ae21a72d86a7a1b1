#include "ArchiveTestSupport.h"
#include "ProfileTestSupport.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Workspace.h"
#include "tasks/homepage/KLVRunningApplicationController.h"
#include "tasks/homepage/KLVSafariHomepageService.h"
#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"
#include "tasks/processes/KLVCommandToolError.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace tasks;
using profile_test::exited;
using profile_test::FakeTaskRunner;
using profile_test::ToolRun;
namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

namespace {

const platform::SystemVersion kBigSur{11, 0, 1};
const platform::SystemVersion kCatalina{10, 15, 7};
const std::string kStartPage = kKLVSafariDefaultStartPageURL;

class FakeApplication : public platform::RunningApplication {
public:
  explicit FakeApplication(bool obeys) : obeys_(obeys) {}
  std::string bundleIdentifier() const override { return "com.apple.Safari"; }
  bool forceTerminate() override {
    ++terminationRequests;
    terminated = obeys_;
    return true;
  }
  bool isTerminated() const override { return terminated; }

  std::atomic<int> terminationRequests{0};
  std::atomic<bool> terminated{false};

private:
  bool obeys_;
};

// A desktop with the browser installed and, after a launch, one instance of it running.
class FakeWorkspace : public platform::Workspace {
public:
  std::optional<platform::URL>
  URLForApplicationWithBundleIdentifier(const std::string& bundleIdentifier) const override {
    if (!installed || bundleIdentifier != "com.apple.Safari") {
      return std::nullopt;
    }
    return platform::URL::fileURLWithPath("/Applications/Safari.app");
  }
  bool launchApplicationAtURL(const platform::URL& url, uint64_t options,
                              platform::NSError*) override {
    launches.emplace_back(url.path(), options);
    running.push_back(std::make_shared<FakeApplication>(true));
    return true;
  }
  std::vector<std::shared_ptr<platform::RunningApplication>>
  runningApplicationsWithBundleIdentifier(const std::string& bundleIdentifier) const override {
    std::vector<std::shared_ptr<platform::RunningApplication>> found;
    for (const auto& application : running) {
      if (application->bundleIdentifier() == bundleIdentifier && !application->isTerminated()) {
        found.push_back(application);
      }
    }
    return found;
  }

  bool installed = true;
  std::vector<std::pair<std::string, uint64_t>> launches;
  std::vector<std::shared_ptr<FakeApplication>> running;
};

class SafariHomepageTest : public ::testing::Test {
protected:
  void SetUp() override { fs::create_directories(home.path() + "/Library/Preferences"); }

  KLVSafariHomepageService service(platform::SystemVersion version) {
    auto paths = std::make_shared<KLVPathsProvider>(home.path(), temporary.path());
    auto plistService = std::make_shared<KLVPlistService>();
    auto profileService =
        std::make_shared<KLVProfileService>(version, paths, runner, plistService, 2.0);
    KLVSafariHomepageService made(KLVBundleIdentifiersProvider(), paths, version, plistService,
                                  profileService, runner, workspace, 0.2);
    made.setPathsProviderLookupForTest([this, paths](std::string_view name) {
      ++lookups;
      return name == "alice" ? paths : nullptr;
    });
    made.setBrowserRunTimeForTest(std::chrono::milliseconds(0));
    return made;
  }
  std::string brokerPath() const {
    return home.path() + "/Library/Preferences/com.apple.Safari.SandboxBroker.plist";
  }
  // Fails the run of `tool` whose argument `argument` is at position `index`, once or always.
  void failRun(const std::string& tool, size_t index, const std::string& argument) {
    runner->respond = [=](const ToolRun& run, platform::NSError*) {
      if (run.path == tool && run.arguments.size() > index && run.arguments[index] == argument) {
        return exited(5, "", "refused");
      }
      return exited(0);
    };
  }

  archive_test::TemporaryDirectory home;
  archive_test::TemporaryDirectory temporary;
  std::shared_ptr<FakeTaskRunner> runner = std::make_shared<FakeTaskRunner>();
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
  int lookups = 0;
};

const Argv kSetManaged{"/usr/bin/dscl",    ".",        "mcxset", "/Users/alice",
                       "com.apple.Safari", "HomePage", "always", kStartPage};
const Argv kDeleteManaged{"/usr/bin/dscl",    ".",       "mcxdelete", "/Users/alice",
                          "com.apple.Safari", "HomePage"};
const Argv kRefresh{"/usr/bin/mcxrefresh", "-n", "alice"};
const Argv kWriteDefaults{"/usr/bin/defaults", "write", "com.apple.Safari", "HomePage", kStartPage};
const Argv kDeleteDefaults{"/usr/bin/defaults", "delete", "com.apple.Safari", "HomePage"};

} // namespace

TEST_F(SafariHomepageTest, OnCurrentSystemsTheManagedPageIsForcedAndRemovedAgain) {
  platform::NSError error;
  EXPECT_TRUE(service(kBigSur).resetHomepageForUser("alice", &error));
  // Without the sandbox broker file only the browser's own domain is edited.
  EXPECT_EQ(runner->argvs(), (std::vector<Argv>{kSetManaged, kRefresh, kWriteDefaults,
                                                kDeleteManaged, kRefresh, kDeleteDefaults}));
  EXPECT_EQ(runner->timeouts, std::vector<double>(6, 0.2));
  ASSERT_EQ(workspace->launches.size(), 1u);
  EXPECT_EQ(workspace->launches[0].first, "/Applications/Safari.app");
  EXPECT_EQ(workspace->launches[0].second, 0x100200u);
  ASSERT_EQ(workspace->running.size(), 1u);
  EXPECT_EQ(workspace->running[0]->terminationRequests, 1);
}

TEST_F(SafariHomepageTest, TheSandboxBrokerFileIsEditedWhenItExists) {
  std::ofstream(brokerPath()) << "";
  EXPECT_TRUE(service(kBigSur).resetHomepageForUser("alice", nullptr));
  EXPECT_EQ(runner->argvs(),
            (std::vector<Argv>{kSetManaged,
                               kRefresh,
                               kWriteDefaults,
                               {"/usr/bin/defaults", "write", brokerPath(), "Homepage", kStartPage},
                               kDeleteManaged,
                               kRefresh,
                               kDeleteDefaults,
                               {"/usr/bin/defaults", "delete", brokerPath(), "Homepage"}}));
}

TEST_F(SafariHomepageTest, AFailedRefreshLeavesTheManagedPageAndFailsWithTen) {
  failRun("/usr/bin/mcxrefresh", 0, "-n");
  platform::NSError error;
  EXPECT_FALSE(service(kBigSur).resetHomepageForUser("alice", &error));
  EXPECT_EQ(error.domain(), kKLVSafariHomepageServiceErrorDomain);
  EXPECT_EQ(error.code(), 10);
  ASSERT_NE(error.underlyingError(), nullptr);
  EXPECT_EQ(error.underlyingError()->code(), 1);
  EXPECT_EQ(std::get<int64_t>(error.underlyingError()->userInfo().at(kKLVCommandToolStatusKey)), 5);
  EXPECT_EQ(error.underlyingError()->stringForKey(kKLVCommandToolErrorTextKey), "refused");
  EXPECT_EQ(runner->argvs(), (std::vector<Argv>{kSetManaged, kRefresh}));
  EXPECT_TRUE(workspace->launches.empty());
}

TEST_F(SafariHomepageTest, ManagedPreferenceFailuresDecideTheOutcome) {
  failRun("/usr/bin/dscl", 1, "mcxset");
  platform::NSError error;
  EXPECT_FALSE(service(kBigSur).resetHomepageForUser("alice", &error));
  EXPECT_EQ(error.code(), 8);
  EXPECT_EQ(runner->runs.size(), 1u);

  // A failed deletion leaves the browser running with the forced page.
  runner->runs.clear();
  failRun("/usr/bin/dscl", 1, "mcxdelete");
  EXPECT_FALSE(service(kBigSur).resetHomepageForUser("alice", &error));
  EXPECT_EQ(error.code(), 9);
  EXPECT_EQ(runner->argvs(),
            (std::vector<Argv>{kSetManaged, kRefresh, kWriteDefaults, kDeleteManaged}));
  EXPECT_FALSE(workspace->running.back()->terminated);

  // Defaults edits are best effort.
  runner->runs.clear();
  failRun("/usr/bin/defaults", 0, "write");
  EXPECT_TRUE(service(kBigSur).resetHomepageForUser("alice", &error));
  EXPECT_EQ(runner->runs.size(), 6u);
}

TEST_F(SafariHomepageTest, OlderSystemsInstallAndRemoveThePlaceholderProfile) {
  std::string placeholderPath;
  std::string placeholder;
  runner->respond = [&](const ToolRun& run, platform::NSError*) {
    if (run.path == "/usr/bin/profiles" && run.arguments[0] == "install") {
      placeholderPath = run.arguments[1].substr(std::string("-path=").size());
      std::ifstream file(placeholderPath, std::ios::binary);
      placeholder.assign(std::istreambuf_iterator<char>(file), {});
    }
    return exited(0);
  };
  workspace->installed = false;
  platform::NSError error;
  EXPECT_TRUE(service(kCatalina).resetHomepageForUser("alice", &error));

  ASSERT_TRUE(placeholderPath.ends_with("/dummy.mobileconfig")) << placeholderPath;
  EXPECT_EQ(placeholderPath.rfind(temporary.path() + "/", 0), 0u);
  EXPECT_EQ(runner->argvs(),
            (std::vector<Argv>{
                kSetManaged,
                {"/usr/bin/profiles", "install", "-path=" + placeholderPath, "-user=alice"},
                kWriteDefaults,
                kDeleteManaged,
                {"/usr/bin/profiles", "remove", "-path=" + placeholderPath, "-user=alice"},
                kDeleteDefaults}));
  EXPECT_TRUE(fs::is_empty(temporary.path())) << "the placeholder and its folder are gone";
  EXPECT_TRUE(workspace->launches.empty()) << "no browser installed, nothing launched";

  auto profile = platform::PropertyList::parse(placeholder);
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->root().dictionaryKeys(),
            (std::vector<std::string>{"PayloadContent", "PayloadDescription", "PayloadDisplayName",
                                      "PayloadIdentifier", "PayloadOrganization", "PayloadScope",
                                      "PayloadType", "PayloadUUID", "PayloadVersion"}));
  EXPECT_EQ(profile->root()["PayloadScope"].stringValue(), "User");
  EXPECT_EQ(profile->root()["PayloadVersion"].unsignedValue(), 1u);
  auto payload = profile->root()["PayloadContent"].arrayItem(0);
  EXPECT_EQ(payload["DummyOption"].boolValue(), true);
  EXPECT_EQ(payload["PayloadIdentifier"].stringValue(),
            "com.dummy.Creator.37F319A2-04C0-419B-AF09-1D3569B8DC1F.com.dummy.Config."
            "05EDD60C-7D08-4E6F-8AA0-6E49B09D9BC9");
  EXPECT_EQ(payload.dictionaryKeys().front(), "DummyOption");
}

TEST_F(SafariHomepageTest, OlderSystemsStopWhenThePlaceholderCannotBeInstalled) {
  failRun("/usr/bin/profiles", 0, "install");
  platform::NSError error;
  EXPECT_FALSE(service(kCatalina).resetHomepageForUser("alice", &error));
  EXPECT_EQ(error.code(), 7);
  EXPECT_EQ(error.underlyingError()->domain(), kKLVProfileServiceErrorDomain);
  EXPECT_EQ(runner->runs.size(), 2u);
  EXPECT_TRUE(fs::is_empty(temporary.path()));
}

TEST_F(SafariHomepageTest, UnknownOrUnfitUsersRunNothing) {
  for (const char* name : {"mallory", "../alice", "alice/..", "-n", ""}) {
    platform::NSError error;
    EXPECT_FALSE(service(kBigSur).resetHomepageForUser(name, &error)) << name;
    EXPECT_EQ(error.code(), 11);
    EXPECT_EQ(error.stringForKey(kKLVEmbeddedUserNameKey), name);
    EXPECT_EQ(error.stringForKey(platform::NSDebugDescriptionErrorKey),
              "Failed to resolve home path for the specified user");
  }
  EXPECT_EQ(lookups, 1) << "only the fit name is looked up";
  EXPECT_TRUE(runner->runs.empty());
}

TEST(SafariHomepageTask, AnUnknownUserFailsWithTheTaskError) {
  auto result =
      KLVPrivilegedAccessSafariHomepageResetTask("no-such-user-for-the-tests", 1.0).perform();
  EXPECT_EQ(result->type(), KLVResultObject::failure);
  EXPECT_EQ(result->error()->domain(), "kKLVPrivilegedAccessSafariHomepageResetTaskErrorDomain");
  EXPECT_EQ(result->error()->code(), 1);
  EXPECT_EQ(result->error()->stringForKey(kKLVEmbeddedUserNameKey), "no-such-user-for-the-tests");
}

TEST(SafariRunningApplications, QuittingWaitsForTheTerminatedStateOrTheWaitingTime) {
  auto workspace = std::make_shared<FakeWorkspace>();
  EXPECT_TRUE(
      KLVRunningApplicationController("com.apple.Safari", 5, workspace).terminateForcefully());

  workspace->running = {std::make_shared<FakeApplication>(true),
                        std::make_shared<FakeApplication>(true)};
  EXPECT_TRUE(
      KLVRunningApplicationController("com.apple.Safari", 5, workspace).terminateForcefully());
  EXPECT_EQ(workspace->running[1]->terminationRequests, 1);

  workspace->running = {std::make_shared<FakeApplication>(false)};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(
      KLVRunningApplicationController("com.apple.Safari", 0.1, workspace).terminateForcefully());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST(SafariWorkspace, TheSharedWorkspaceFindsNothingUntilATestReplacesIt) {
  auto shared = platform::Workspace::shared();
  EXPECT_FALSE(shared->URLForApplicationWithBundleIdentifier("com.apple.Safari"));
  EXPECT_TRUE(shared->runningApplicationsWithBundleIdentifier("com.apple.Safari").empty());
  EXPECT_FALSE(shared->launchApplicationAtURL(platform::URL::fileURLWithPath("/x"), 0, nullptr));
  auto fake = std::make_shared<FakeWorkspace>();
  platform::Workspace::setSharedForTest(fake);
  EXPECT_EQ(platform::Workspace::shared(), fake);
  platform::Workspace::setSharedForTest(nullptr);
  EXPECT_NE(platform::Workspace::shared(), fake);
}

TEST(SafariHomepageTask, AKnownUserReachesTheManagedPreferencesTool) {
  // No directory tool exists here: the first step fails and decides the result.
  auto result = KLVPrivilegedAccessSafariHomepageResetTask("root", 1.0).perform();
  EXPECT_EQ(result->type(), KLVResultObject::mixed);
  EXPECT_FALSE(result->isSuccess());
  EXPECT_EQ(result->error()->domain(), kKLVSafariHomepageServiceErrorDomain);
  EXPECT_EQ(result->error()->code(), 8);
}
