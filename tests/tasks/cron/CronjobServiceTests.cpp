#include "CronjobTestSupport.h"
#include "tasks/model/PrivilegedAccessErrors.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tasks;
using cronjob_test::CronjobFixture;
using platform::NSError;

namespace {

class CronjobService : public ::testing::Test, protected CronjobFixture {};

const std::string kInvalidUTF8 = "0 * * * * /bin/\xC3\x28job\n";

} // namespace

TEST_F(CronjobService, FetchesEveryUserAndEmbedsTheUnreadableCrontabs) {
  write("root", "# system jobs\n@reboot /sbin/start\n*/5 * * * * /usr/bin/check\n");
  write("alice", "MAILTO=alice\n0 9 * * 1 /Users/alice/report.sh\n");
  write("bob", kInvalidUTF8);
  write("carol", "");

  NSError error;
  auto jobs = service.fetchJobsWithError(&error);
  ASSERT_TRUE(jobs);
  ASSERT_EQ(jobs->size(), 3u);
  EXPECT_EQ((*jobs)[0]->userName(), "alice");
  EXPECT_FALSE((*jobs)[0]->isUnderAdminPrivilege());
  EXPECT_TRUE((*jobs)[0]->lastModificationDate().has_value());
  EXPECT_EQ((*jobs)[1]->cronjobRecord().source(), "@reboot /sbin/start");
  EXPECT_TRUE((*jobs)[2]->isUnderAdminPrivilege());

  EXPECT_EQ(error.domain(), kKLVCronjobServiceErrorDomain);
  EXPECT_EQ(error.code(), 102);
  const auto& embedded = std::get<std::vector<NSError>>(error.userInfo().at(kKLVEmbeddedErrorsKey));
  ASSERT_EQ(embedded.size(), 1u) << "an empty crontab is no error";
  EXPECT_EQ(embedded[0].code(), 101);
  EXPECT_EQ(embedded[0].stringForKey(platform::NSFilePathErrorKey), crontab("bob"));
  ASSERT_NE(embedded[0].underlyingError(), nullptr);
}

TEST_F(CronjobService, AnEmptyFolderGivesNothingAndAMissingOneCode101) {
  NSError error;
  EXPECT_FALSE(service.fetchJobsWithError(&error));
  EXPECT_TRUE(error.domain().empty());

  KLVCronjobService missing(std::make_shared<KLVFileDataAccessService>(), runner, 1,
                            tabs.path() + "/missing");
  EXPECT_FALSE(missing.fetchJobsWithError(&error));
  EXPECT_EQ(error.code(), 101);
  EXPECT_EQ(error.stringForKey(platform::NSFilePathErrorKey), tabs.path() + "/missing");
}

TEST_F(CronjobService, ReadsNoFurtherThanFiveMebibytes) {
  std::string text = "@daily /bin/first\n";
  const std::string padding = "# " + std::string(97, 'p') + "\n";
  while (text.size() + 2 * padding.size() < kKLVMaxCronjobFileLength) {
    text += padding;
  }
  // The last comment ends ten bytes before the limit.
  text += "#" + std::string(kKLVMaxCronjobFileLength - 10 - text.size() - 2, 'q') + "\n";
  // This job straddles the limit, the next lies past it: neither is read.
  text += "@hourly /bin/straddling/the/limit/of/the/file\n@weekly /bin/beyond\n";
  ASSERT_GT(text.size(), kKLVMaxCronjobFileLength);
  write("root", text);

  NSError error;
  auto jobs = service.fetchJobsForUser(std::nullopt, &error);
  ASSERT_TRUE(jobs);
  ASSERT_EQ(jobs->size(), 1u);
  EXPECT_EQ((*jobs)[0]->cronjobRecord().source(), "@daily /bin/first");

  // Rewriting only the first part would cut the rest off: the file is left alone.
  EXPECT_FALSE(service.removeMatchedCronjobWithSource("@daily /bin/first", "root", &error));
  EXPECT_EQ(error.code(), 101);
  EXPECT_EQ(error.underlyingError()->underlyingError()->code(), EFBIG);
  EXPECT_EQ(read("root"), text);
}

TEST_F(CronjobService, UserNamesThatAreNoFileNameAreRefused) {
  for (const std::string& name :
       {std::string(), std::string("."), std::string(".."), std::string("../root"),
        std::string("a/b"), std::string("ro\0ot", 5)}) {
    NSError error;
    EXPECT_FALSE(service.fetchJobsForUser(name, &error)) << name;
    EXPECT_EQ(error.code(), 101) << name;
    EXPECT_FALSE(service.removeMatchedCronjobWithSource("@daily /x", name, nullptr));
    EXPECT_FALSE(service.removeJobsForUser(name, nullptr));
  }
  EXPECT_TRUE(runner->inputs.empty());

  NSError error;
  EXPECT_FALSE(service.fetchJobsForUser("nobody", &error));
  EXPECT_TRUE(error.domain().empty());
}

TEST_F(CronjobService, ClearingRunsTheCrontabToolAndReportsItsFailure) {
  EXPECT_TRUE(service.removeJobsForUser("alice", nullptr));
  EXPECT_TRUE(service.removeJobsForUser("root", nullptr));
  EXPECT_TRUE(service.removeJobsForUser(std::nullopt, nullptr));
  ASSERT_EQ(runner->inputs.size(), 3u);
  EXPECT_EQ(runner->inputs[0].executablePath, "/usr/bin/crontab");
  EXPECT_EQ(runner->inputs[0].arguments, (std::vector<std::string>{"-u", "alice", "-r"}));
  EXPECT_EQ(runner->inputs[0].timeoutInterval(), 7.5);
  EXPECT_FALSE(runner->inputs[0].shouldRunTaskUntilFinish);
  EXPECT_EQ(runner->inputs[1].arguments, std::vector<std::string>{"-r"});
  EXPECT_EQ(runner->inputs[2].arguments, std::vector<std::string>{"-r"});

  runner->output = KLVTaskRunnerOutput(1, "", "crontab: no crontab for alice\n");
  NSError error;
  EXPECT_FALSE(service.removeJobsForUser("alice", &error));
  EXPECT_EQ(error.code(), 104);
  EXPECT_EQ(std::get<int64_t>(error.userInfo().at("kKLVCommandToolStatusKey")), 1);
  EXPECT_EQ(error.stringForKey("kKLVCommandToolErrorTextKey"), "crontab: no crontab for alice\n");

  runner->output.reset();
  EXPECT_FALSE(service.removeJobsForUser("alice", &error));
  EXPECT_EQ(error.code(), 104);
  EXPECT_EQ(error.underlyingError()->code(), kKLVTaskRunnerServiceTimedOut);
}

TEST_F(CronjobService, RewritingRefusesUndecodableTextAndLinks) {
  write("bob", kInvalidUTF8);
  NSError error;
  EXPECT_FALSE(service.removeMatchedCronjobWithSource("0 * * * * /bin/job", "bob", &error));
  EXPECT_EQ(error.code(), 103);
  EXPECT_EQ(error.stringForKey(platform::NSFilePathErrorKey), crontab("bob"));
  EXPECT_EQ(read("bob"), kInvalidUTF8);

  write("target", "@daily /bin/a\n@daily /bin/b\n");
  ASSERT_EQ(::symlink(crontab("target").c_str(), crontab("link").c_str()), 0);
  EXPECT_FALSE(service.removeMatchedCronjobWithSource("@daily /bin/a", "link", &error));
  EXPECT_EQ(error.code(), 101);
  EXPECT_EQ(read("target"), "@daily /bin/a\n@daily /bin/b\n");

  std::filesystem::create_directory(crontab("folder"));
  EXPECT_FALSE(service.fetchJobsForUser("folder", &error));
  EXPECT_EQ(error.code(), 101);
}

TEST_F(CronjobService, RewritingKeepsTheFileAndSaysWhetherSomethingWent) {
  write("alice", "@daily /bin/a\n@daily /bin/b\n");
  const auto permissions = std::filesystem::status(crontab("alice")).permissions();
  EXPECT_FALSE(service.removeMatchedCronjobWithSource("@daily /bin/c", "alice", nullptr));
  EXPECT_EQ(read("alice"), "@daily /bin/a\n@daily /bin/b\n");
  EXPECT_TRUE(service.removeMatchedCronjobWithSource("@daily /bin/a", "alice", nullptr));
  EXPECT_EQ(read("alice"), "@daily /bin/b\n");
  EXPECT_EQ(std::filesystem::status(crontab("alice")).permissions(), permissions);
  EXPECT_FALSE(service.removeMatchedCronjobWithSource("@daily /bin/a", "nobody", nullptr));
}
