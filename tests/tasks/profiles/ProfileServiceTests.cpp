#include "ArchiveTestSupport.h"
#include "ProfileTestSupport.h"
#include "TaskTestSupport.h"
#include "platform/archive/Collections.h"
#include "platform/foundation/PropertyList.h"
#include "tasks/files/KLVPathsProvider.h"
#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"
#include "tasks/processes/KLVCommandToolError.h"
#include "tasks/profiles/KLVProfileService.h"
#include "tasks/profiles/KLVProfileUtilityOutputParser.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

using namespace tasks;
using profile_test::exited;
using profile_test::FakeTaskRunner;
using profile_test::ToolRun;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr const char* kListing = R"(There are 3 configuration profiles installed

_computerlevel[1] attribute: name: Corporate Wi-Fi
_computerlevel[1] attribute: configurationDescription: Network: office, floors 1-3
_computerlevel[1] attribute: installationDate: 2024-03-05 14:07:09 +0000
_computerlevel[1] attribute: organization: Example Corp
_computerlevel[1] attribute: profileIdentifier: com.example.wifi
_computerlevel[1] attribute: profileUUID: 6F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D
_computerlevel[1] attribute: removalDisallowed: TRUE
_computerlevel[1] payload count = 1
    _computerlevel[1] payload[1] name = Wi-Fi
alice[2] attribute: name: Mail: Work Account (IMAP)  at  example.com
alice[2] attribute: installationDate: 2023-11-30 08:00:00 -0500
alice[2] attribute: profileIdentifier: com.example.mail
alice[2] attribute: profileUUID: 0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E
alice[2] attribute: removalDisallowed: FALSE
bob[3] attribute: name: Half profile
bob[3] attribute: profileIdentifier: com.example.half
bob[3] attribute: removalDisallowed: FALSE
)";

std::map<std::string, KLVConfigurationProfile::Fields>
parseByIdentifier(const std::string& listing) {
  std::map<std::string, KLVConfigurationProfile::Fields> byIdentifier;
  for (const auto& profile :
       KLVProfileUtilityOutputParser().parseConfigurationProfilesFromOutput(listing)) {
    byIdentifier.emplace(profile->fields().profileIdentifier, profile->fields());
  }
  return byIdentifier;
}

KLVConfigurationProfile profile(std::string userName, bool admin) {
  return KLVConfigurationProfile({std::move(userName), "Mail", "com.example.mail",
                                  "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E", admin, false,
                                  std::nullopt});
}

// A service over a temporary folder of the test's own, on the given system version.
class ProfileServiceTest : public ::testing::Test {
protected:
  KLVProfileService service(platform::SystemVersion version) {
    return KLVProfileService(version,
                             std::make_shared<KLVPathsProvider>(std::nullopt, temporary.path()),
                             runner, std::make_shared<KLVPlistService>(), 4.5);
  }
  size_t filesInTemporaryFolder() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(temporary.path()), {}));
  }

  archive_test::TemporaryDirectory temporary;
  std::shared_ptr<FakeTaskRunner> runner = std::make_shared<FakeTaskRunner>();
};

const platform::SystemVersion kCurrent{14, 0, 0};
const platform::SystemVersion kHighSierra{10, 13, 0};
const platform::SystemVersion kSierra{10, 12, 6};
const platform::SystemVersion kYosemite{10, 10, 5};

} // namespace

TEST(ProfileListingParser, ReadsDeviceAndUserGroupsAndDropsIncompleteOnes) {
  auto profiles = parseByIdentifier(kListing);
  ASSERT_EQ(profiles.size(), 2u);

  const auto& device = profiles.at("com.example.wifi");
  EXPECT_EQ(device.userName, "root");
  EXPECT_TRUE(device.isUnderAdminPrivilege);
  EXPECT_TRUE(device.isRemovalDisallowed);
  EXPECT_EQ(device.profileName, "Corporate Wi-Fi");
  EXPECT_EQ(device.profileUUIDText, "6F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
  ASSERT_TRUE(device.installationDate);
  EXPECT_EQ(device.installationDate->timeIntervalSince1970(), 1709647629.0);

  const auto& user = profiles.at("com.example.mail");
  EXPECT_EQ(user.userName, "alice");
  EXPECT_FALSE(user.isUnderAdminPrivilege);
  EXPECT_FALSE(user.isRemovalDisallowed);
  // The value keeps its colons and inner spaces: it is the rest of the line.
  EXPECT_EQ(user.profileName, "Mail: Work Account (IMAP)  at  example.com");
  ASSERT_TRUE(user.installationDate);
  EXPECT_EQ(user.installationDate->timeIntervalSince1970(), 1701349200.0);
}

TEST(ProfileListingParser, LaterLinesReplaceAndEveryKeyAttributeIsRequired) {
  auto profiles =
      parseByIdentifier("carol[12] Attribute: name: Old\n"
                        "carol[12] attribute: name: New\n"
                        "carol[12] attribute: profileIdentifier: com.example.c\n"
                        "carol[12] attribute: profileUUID: U-1\n"
                        "carol[12] attribute: removalDisallowed: TRUE\n"
                        "carol[12] attribute: installationDate: 2024-02-30 10:00:00 +0000\n"
                        "dave[1] attribute: name: No removal flag\n"
                        "dave[1] attribute: profileIdentifier: com.example.d\n"
                        "dave[1] attribute: profileUUID: U-2\n"
                        "erin[1] attribute: name: \n"
                        "erin[1] attribute: profileIdentifier: com.example.e\n"
                        "erin[1] attribute: profileUUID: U-3\n"
                        "erin[1] attribute: removalDisallowed: FALSE\n"
                        "[7] attribute: name: Nobody's\n"
                        "[7] attribute: profileIdentifier: com.example.n\n"
                        "[7] attribute: profileUUID: U-4\n"
                        "[7] attribute: removalDisallowed: FALSE\n");
  ASSERT_EQ(profiles.size(), 1u);
  const auto& carol = profiles.at("com.example.c");
  EXPECT_EQ(carol.profileName, "New");
  EXPECT_EQ(carol.userName, "carol");
  EXPECT_FALSE(carol.installationDate) << "30 February is no date";
}

TEST(ProfileListingParser, InstallationDatesAreReadStrictly) {
  using Parser = KLVProfileUtilityOutputParser;
  EXPECT_EQ(
      Parser::parseInstallationDate("2001-01-01 00:00:00 +0000")->timeIntervalSinceReferenceDate(),
      0.0);
  EXPECT_EQ(
      Parser::parseInstallationDate("2001-01-01 01:30:00 +01:30")->timeIntervalSinceReferenceDate(),
      0.0);
  EXPECT_EQ(Parser::parseInstallationDate("2024-02-29 23:59:59 Z")->timeIntervalSince1970(),
            1709251199.0);
  for (const char* invalid :
       {"", "2024-13-01 00:00:00 +0000", "2023-02-29 00:00:00 +0000", "2024-01-01 24:00:00 +0000",
        "2024-01-01 00:00:00", "2024-01-01T00:00:00 +0000", "2024-01-01 00:00:00 +0000 ",
        "2024-1-01 00:00:00 +0000", "2024-01-01 00:00:00 +2400"}) {
    EXPECT_FALSE(Parser::parseInstallationDate(invalid)) << invalid;
  }
}

TEST(ProfileRemoverArchive, AProfileWithAnEmptyUUIDTextDoesNotDecode) {
  auto empty = std::make_shared<KLVConfigurationProfile>(KLVConfigurationProfile::Fields{
      "alice", "Mail", "com.example.mail", "", false, false, std::nullopt});
  auto task = std::make_shared<KLVPrivilegedAccessProfileRemoverTask>(empty, 2.0);
  EXPECT_EQ(tasks_test::unarchiveTask(tasks_test::archive(task)), nullptr);
}

TEST_F(ProfileServiceTest, ListingsUseTheArgumentsOfTheSystemVersion) {
  runner->respond = [](const ToolRun&, platform::NSError*) { return exited(0, kListing); };
  ASSERT_EQ(service(kCurrent).fetchSystemConfigurationProfiles(nullptr)->size(), 2u);
  service(kHighSierra).fetchUserConfigurationProfiles(nullptr);
  service(kSierra).fetchSystemConfigurationProfiles(nullptr);
  service(kSierra).fetchUserConfigurationProfiles(nullptr);
  using Argv = std::vector<std::string>;
  EXPECT_EQ(runner->argvs(), (std::vector<Argv>{{"/usr/bin/profiles", "show", "-all", "verbose"},
                                                {"/usr/bin/profiles", "show", "verbose"},
                                                {"/usr/bin/profiles", "-P", "-v"},
                                                {"/usr/bin/profiles", "-L", "-v"}}));
  EXPECT_EQ(runner->timeouts, (std::vector<double>(4, 4.5)));
}

TEST_F(ProfileServiceTest, ListingFailuresCarryTheToolsOutcome) {
  runner->respond = [](const ToolRun&, platform::NSError*) {
    return exited(3, "partial", "denied");
  };
  platform::NSError error;
  EXPECT_FALSE(service(kCurrent).fetchSystemConfigurationProfiles(&error));
  EXPECT_EQ(error.domain(), kKLVProfileServiceErrorDomain);
  EXPECT_EQ(error.code(), 101);
  EXPECT_EQ(std::get<int64_t>(error.userInfo().at(kKLVCommandToolStatusKey)), 3);
  EXPECT_EQ(error.stringForKey(kKLVCommandToolValueTextKey), "partial");
  EXPECT_EQ(error.stringForKey(kKLVCommandToolErrorTextKey), "denied");

  // Output that is no text is no listing.
  runner->respond = [](const ToolRun&, platform::NSError*) { return exited(0, "\xff\xfe"); };
  EXPECT_FALSE(service(kCurrent).fetchSystemConfigurationProfiles(&error));
  EXPECT_EQ(error.code(), 102);

  runner->respond = [](const ToolRun&, platform::NSError* runnerError) {
    platform::setError(runnerError, platform::NSError(kKLVTaskRunnerServiceErrorDomain, 102));
    return std::optional<KLVTaskRunnerOutput>();
  };
  EXPECT_FALSE(service(kCurrent).fetchSystemConfigurationProfiles(&error));
  EXPECT_EQ(error.code(), 101);
  ASSERT_NE(error.underlyingError(), nullptr);
  EXPECT_EQ(error.underlyingError()->code(), 102);
  EXPECT_EQ(error.userInfo().count(kKLVCommandToolStatusKey), 0u);
}

TEST_F(ProfileServiceTest, RemovalArgumentsFollowTheVersionAndTheUserCondition) {
  struct Case {
    platform::SystemVersion version;
    KLVConfigurationProfile profile;
    std::vector<std::string> expectedTail; // after the file argument
    bool pathAsOption;
  };
  const std::vector<Case> cases = {
      {kCurrent, profile("alice", false), {"-user=alice"}, true},
      {kHighSierra, profile("root", true), {}, true},
      {kCurrent, profile("", false), {}, true},
      {kSierra, profile("alice", false), {"-U", "alice"}, false},
      {kSierra, profile("root", true), {}, false},
      {kYosemite, profile("alice", false), {}, false},
  };
  for (const auto& testCase : cases) {
    runner->runs.clear();
    EXPECT_TRUE(service(testCase.version).uninstallConfigurationProfile(testCase.profile, nullptr));
    ASSERT_EQ(runner->runs.size(), 1u);
    const auto& arguments = runner->runs[0].arguments;
    std::vector<std::string> head = testCase.pathAsOption ? std::vector<std::string>{"remove"}
                                                          : std::vector<std::string>{"-R", "-F"};
    ASSERT_GT(arguments.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.begin() + head.size()), head);
    const std::string& file = arguments[head.size()];
    const std::string prefix =
        testCase.pathAsOption ? "-path=" + temporary.path() + "/" : temporary.path() + "/";
    EXPECT_EQ(file.rfind(prefix, 0), 0u) << file;
    EXPECT_TRUE(file.ends_with(".mobileconfig")) << file;
    EXPECT_EQ(std::vector<std::string>(arguments.begin() + head.size() + 1, arguments.end()),
              testCase.expectedTail);
  }
}

TEST_F(ProfileServiceTest, TheRemovalProfileNamesTheProfileAndIsGoneAfterwards) {
  std::string seenContent;
  bool succeed = true;
  runner->respond = [&](const ToolRun& run, platform::NSError*) {
    const std::string path = run.arguments.at(1).substr(std::string("-path=").size());
    std::ifstream file(path, std::ios::binary);
    seenContent.assign(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    return succeed ? exited(0) : exited(1, "", "removal disallowed");
  };
  EXPECT_TRUE(service(kCurrent).uninstallConfigurationProfile(profile("alice", false), nullptr));
  EXPECT_EQ(filesInTemporaryFolder(), 0u);

  auto written = platform::PropertyList::parse(seenContent);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->root().dictionaryKeys(),
            (std::vector<std::string>{"PayloadContent", "PayloadIdentifier", "PayloadUUID"}));
  EXPECT_EQ(written->root()["PayloadIdentifier"].stringValue(), "com.example.mail");
  EXPECT_EQ(written->root()["PayloadUUID"].stringValue(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E");
  ASSERT_EQ(written->root()["PayloadContent"].arraySize(), 1u);
  EXPECT_EQ(written->root()["PayloadContent"].arrayItem(0).dictionarySize(), 0u);

  succeed = false;
  platform::NSError error;
  EXPECT_FALSE(service(kCurrent).uninstallConfigurationProfile(profile("alice", false), &error));
  EXPECT_EQ(error.code(), 101);
  EXPECT_EQ(error.stringForKey(kKLVCommandToolErrorTextKey), "removal disallowed");
  EXPECT_EQ(filesInTemporaryFolder(), 0u);
}

TEST_F(ProfileServiceTest, NothingRunsWhenTheRemovalProfileCannotBeWrittenOrTheUserIsUnfit) {
  platform::NSError error;
  KLVProfileService missingFolder(
      kCurrent, std::make_shared<KLVPathsProvider>(std::nullopt, temporary.path() + "/absent"),
      runner, std::make_shared<KLVPlistService>(), 1);
  EXPECT_FALSE(missingFolder.uninstallConfigurationProfile(profile("alice", false), &error));
  EXPECT_EQ(error.code(), 103);
  EXPECT_NE(error.underlyingError(), nullptr);
  EXPECT_EQ(error.userInfo().count(platform::NSURLErrorKey), 1u);

  // A user name from a client that a tool would read as an option is refused.
  EXPECT_FALSE(service(kSierra).uninstallConfigurationProfile(profile("-F", false), &error));
  EXPECT_EQ(error.code(), 104);
  EXPECT_EQ(error.stringForKey(kKLVEmbeddedUserNameKey), "-F");
  EXPECT_TRUE(runner->runs.empty());
  EXPECT_EQ(filesInTemporaryFolder(), 0u);
}

TEST_F(ProfileServiceTest, InstallationNamesTheFileAndTheUser) {
  const auto url = platform::URL::fileURLWithPath("/tmp/x/dummy.mobileconfig");
  EXPECT_TRUE(service(kCurrent).installConfigurationProfileWithURL(url, "alice", nullptr));
  EXPECT_TRUE(service(kSierra).installConfigurationProfileWithURL(url, "alice", nullptr));
  using Argv = std::vector<std::string>;
  EXPECT_EQ(runner->argvs(),
            (std::vector<Argv>{
                {"/usr/bin/profiles", "install", "-path=/tmp/x/dummy.mobileconfig", "-user=alice"},
                {"/usr/bin/profiles", "-I", "-F", "/tmp/x/dummy.mobileconfig", "-U", "alice"}}));
}

TEST(ProfileTasks, ToolFailuresBecomeFailureResultsAndLeaveNoFile) {
  archive_test::TemporaryDirectory temporary;
  KLVPathsProvider::setProcessTemporaryDirectoryForTest(temporary.path());
  // No profile tool exists here, so every run fails.
  auto fetched = KLVPrivilegedAccessProfileFetcherTask(1.0).perform();
  EXPECT_EQ(fetched->type(), KLVResultObject::failure);
  EXPECT_EQ(fetched->value(), nullptr);
  EXPECT_EQ(fetched->error()->domain(), kKLVProfileServiceErrorDomain);
  EXPECT_EQ(fetched->error()->code(), 101);

  auto removed = KLVPrivilegedAccessProfileRemoverTask(
                     std::make_shared<KLVConfigurationProfile>(profile("alice", false)), 1.0)
                     .perform();
  EXPECT_EQ(removed->type(), KLVResultObject::mixed);
  EXPECT_FALSE(removed->isSuccess());
  EXPECT_EQ(removed->error()->code(), 101);
  EXPECT_TRUE(fs::is_empty(temporary.path()));
  KLVPathsProvider::setProcessTemporaryDirectoryForTest(std::nullopt);
}

TEST(PathsProvider, ResolvesKnownUsersAndRefusesUnfitNames) {
  auto root = KLVPathsProvider::providerWithUserName("root");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->userLibraryDirectoryURL()->path(), *root->homeDirectory() + "/Library");
  EXPECT_EQ(root->temporaryDirectoryURL().path(), "/tmp");
  for (const char* name :
       {"", "no-such-user-for-the-tests", "../root", "root/x", "-root", "ro\not"}) {
    EXPECT_EQ(KLVPathsProvider::providerWithUserName(name), nullptr) << name;
  }
  KLVPathsProvider::setProcessTemporaryDirectoryForTest("/var//tmp/./x/..");
  EXPECT_EQ(KLVPathsProvider::defaultProvider()->temporaryDirectoryURL().path(), "/var/tmp");
  KLVPathsProvider::setProcessTemporaryDirectoryForTest(std::nullopt);
}

TEST(ProfileListingParser, ParsedProfilesArchiveAndDecodeAsTheyWere) {
  registerTaskClasses();
  // A NUL byte would cut the archived text short: its line does not count.
  const std::string withNUL = std::string(kListing) +
                              "alice[2] attribute: profileUUID: 0A1B2C3D\0-4E5F\n"s +
                              "zed[9] attribute: name: Z\0\nzed[9] attribute: profileUUID: U\n"
                              "zed[9] attribute: profileIdentifier: z\n"
                              "zed[9] attribute: removalDisallowed: FALSE\n"s;
  auto profiles = KLVProfileUtilityOutputParser().parseConfigurationProfilesFromOutput(withNUL);
  ASSERT_EQ(profiles.size(), 2u);
  auto bytes =
      tasks_test::archive(platform::archive::NSArray::make({profiles.begin(), profiles.end()}));
  platform::NSError error;
  auto copy = std::dynamic_pointer_cast<platform::archive::NSArray>(
      platform::archive::unarchivedObjectOfClasses(
          {&platform::archive::NSArray::classObject(), &KLVConfigurationProfile::classObject()},
          bytes, &error));
  ASSERT_NE(copy, nullptr) << error.description();
  ASSERT_EQ(copy->count(), profiles.size());
  for (size_t index = 0; index < profiles.size(); ++index) {
    EXPECT_TRUE(copy->objects()[index]->isEqual(*profiles[index]));
  }
}
