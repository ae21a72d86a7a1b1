#include "TaskBuilders.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/TaskClasses.h"

#include <gtest/gtest.h>

using agentctl::buildTask;
using agentctl::TaskFieldError;
using platform::json::parse;

namespace {

std::string refusal(std::string_view className, std::string_view json) {
  try {
    buildTask(className, parse(json));
  } catch (const TaskFieldError& error) {
    return error.what();
  }
  return "";
}

template <class T> std::shared_ptr<T> built(std::string_view className, std::string_view json) {
  auto task = std::dynamic_pointer_cast<T>(buildTask(className, parse(json)));
  EXPECT_NE(task, nullptr);
  return task;
}

} // namespace

TEST(TaskBuilders, UrlsArePathsOrUrlsTakenAsGiven) {
  using tasks::KLVPrivilegedAccessFileRemoverTask;
  const char* name = "KLVPrivilegedAccessFileRemoverTask";
  EXPECT_EQ(built<KLVPrivilegedAccessFileRemoverTask>(name, R"({"url":"/tmp/a b"})")
                ->url()
                .absoluteString(),
            "file:///tmp/a%20b");
  EXPECT_EQ(built<KLVPrivilegedAccessFileRemoverTask>(name, R"({"url":"file:///tmp/x"})")
                ->url()
                .absoluteString(),
            "file:///tmp/x");
  // A relative path stays relative (the agent refuses it), and a colon inside a path is no
  // scheme.
  EXPECT_EQ(
      built<KLVPrivilegedAccessFileRemoverTask>(name, R"({"url":"tmp/x"})")->url().absoluteString(),
      "tmp/x");
  EXPECT_EQ(built<KLVPrivilegedAccessFileRemoverTask>(name, R"({"url":"/tmp/a:b"})")
                ->url()
                .absoluteString(),
            "file:///tmp/a:b");
}

TEST(TaskBuilders, RefusesWhatDoesNotDescribeTheClass) {
  EXPECT_EQ(refusal("KLVPrivilegedAccessTask", "{}"),
            "unknown task class \"KLVPrivilegedAccessTask\" (\"agentctl task --list\" lists them)");
  EXPECT_EQ(refusal("KLVPrivilegedAccessFileSizeTask", "{}"), "\"url\" is required");
  EXPECT_EQ(refusal("KLVPrivilegedAccessFileSizeTask", R"({"url":"/x","URL":"/y"})"),
            "\"URL\" is not a field of this class");
  EXPECT_EQ(refusal("KLVPrivilegedAccessFileSizeTask", R"({"url":7})"), "\"url\" must be a string");
  EXPECT_EQ(refusal("KLVPrivilegedAccessFileSizeTask", "[]"), "the fields must be a JSON object");
  EXPECT_EQ(
      refusal("KLVPrivilegedAccessProcessTerminatorTask", R"({"processIdentifier":2147483648})"),
      "\"processIdentifier\" must lie in [-2147483648, 2147483647]");
  EXPECT_EQ(
      refusal("KLVPrivilegedAccessEnumeratorTask", R"({"rootURL":"/","maxEnumerationDepth":1.5})"),
      "\"maxEnumerationDepth\" must be an integer");
  EXPECT_EQ(
      refusal("KLVPrivilegedAccessEnumeratorTask", R"({"rootURL":"/","maxEnumerationDepth":-1})"),
      "\"maxEnumerationDepth\" must lie in [0, 9223372036854775807]");
  EXPECT_EQ(refusal("KLVPrivilegedAccessFileSizeTask", R"({"url":"/x","uuid":"nope"})"),
            "\"uuid\" is not a UUID");
  EXPECT_EQ(refusal("KLVPrivilegedAccessProfileRemoverTask",
                    R"({"profile":{"userName":"u","profileName":"p","profileIdentifier":"i",
                        "profileUUIDText":"t","extra":1}})"),
            "\"profile.extra\" is not a field of this class");
}

TEST(TaskBuilders, DefaultsAreThoseOfTheHelp) {
  auto task = built<tasks::KLVPrivilegedAccessEnumeratorTask>("KLVPrivilegedAccessEnumeratorTask",
                                                              R"({"rootURL":"/srv"})");
  EXPECT_FALSE(task->shouldCollectDirectory());
  EXPECT_EQ(task->maxEnumerationDepth(), 64u);
}

// Every class the tool offers decodes in the agent from what the tool archives, and archives
// back to the same bytes: the builders write the keys that the classes read.
TEST(TaskBuilders, EveryClassRoundTripsThroughItsArchive) {
  tasks::registerTaskClasses();
  const char* uuid = R"("uuid":"0F6C4B4E-9A57-4E0B-8D7A-2B52F8A4C3D1")";
  const std::map<std::string_view, std::string> fields = {
      {"KLVPrivilegedAccessBundleIdentifierTask", R"("url":"/Applications/A.app")"},
      {"KLVPrivilegedAccessCronjobFetcherTask", R"("externalUtilityExecutionTimeout":2.5)"},
      {"KLVPrivilegedAccessCronjobRemoverTask",
       R"("cronjobSource":"* * * * * /bin/true","userName":"alice")"},
      {"KLVPrivilegedAccessEmptyDirectoryFetcherTask", R"("url":"/srv")"},
      {"KLVPrivilegedAccessEnumeratorTask",
       R"("rootURL":"/srv","shouldCollectDirectory":true,"maxEnumerationDepth":3)"},
      {"KLVPrivilegedAccessFileHandleTask", R"("url":"/srv/f","fileHandleType":3)"},
      {"KLVPrivilegedAccessFileRemoverTask", R"("url":"/srv/f")"},
      {"KLVPrivilegedAccessFileSizeTask", R"("url":"/srv/f")"},
      {"KLVPrivilegedAccessLaunchAgentRemoverTask",
       R"("url":"/Library/LaunchAgents/a.plist","externalUtilityExecutionTimeout":9)"},
      {"KLVPrivilegedAccessProcessTerminatorTask", R"("processIdentifier":4242)"},
      {"KLVPrivilegedAccessProfileFetcherTask", R"("externalUtilityExecutionTimeout":1)"},
      {"KLVPrivilegedAccessProfileRemoverTask",
       R"("profile":{"userName":"alice","profileName":"Mail","profileIdentifier":"com.example.mail",
          "profileUUIDText":"ABC","isRemovalDisallowed":true,"installationDate":731340429})"},
      {"KLVPrivilegedAccessSafariHomepageResetTask", R"("userName":"alice")"},
      {"KLVPrivilegedAccessTeamIdentifierTask", R"("url":"/Applications/A.app")"},
  };
  ASSERT_EQ(agentctl::taskClassNames().size(), fields.size());
  for (auto name : agentctl::taskClassNames()) {
    SCOPED_TRACE(std::string(name));
    ASSERT_TRUE(fields.contains(name));
    auto task = buildTask(name, parse("{" + std::string(uuid) + "," + fields.at(name) + "}"));
    EXPECT_EQ(task->objectClass().name(), name);
    platform::NSError error;
    auto archive = platform::archive::archivedDataWithRootObject(task, true, &error);
    ASSERT_TRUE(archive);
    auto decoded = platform::archive::unarchivedObjectOfClass<tasks::KLVPrivilegedAccessTask>(
        *archive, &error);
    ASSERT_NE(decoded, nullptr) << error.description();
    EXPECT_TRUE(decoded->isEqual(*task));
    EXPECT_EQ(platform::archive::archivedDataWithRootObject(decoded, true, &error), archive);
  }
}
