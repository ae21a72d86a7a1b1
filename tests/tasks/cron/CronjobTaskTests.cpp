#include "CronjobTestSupport.h"
#include "TaskTestSupport.h"
#include "platform/archive/Collections.h"
#include "platform/archive/Values.h"
#include "tasks/cron/CronjobTaskExecutors.h"
#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"
#include "tasks/model/KLVResultObject.h"

#include <gtest/gtest.h>

using namespace tasks;
using cronjob_test::CronjobFixture;
using platform::archive::NSArray;

namespace {

class CronjobTasks : public ::testing::Test, protected CronjobFixture {
protected:
  ResultPtr remove(const std::string& source, const std::string& user) {
    return performWithService(KLVPrivilegedAccessCronjobRemoverTask(source, user, 7.5), service);
  }
};

} // namespace

TEST_F(CronjobTasks, RemovingTheOnlyJobClearsTheCrontabWithTheTool) {
  write("alice", "MAILTO=alice\n*/10 * * * * /Users/alice/sync\n");
  auto result = remove("*/10 * * * * /Users/alice/sync", "alice");
  EXPECT_TRUE(result->isSuccess());
  EXPECT_EQ(result->type(), KLVResultObject::success);
  ASSERT_EQ(runner->inputs.size(), 1u);
  EXPECT_EQ(runner->inputs[0].executablePath, "/usr/bin/crontab");
  EXPECT_EQ(runner->inputs[0].arguments, (std::vector<std::string>{"-u", "alice", "-r"}));
  EXPECT_EQ(runner->inputs[0].timeoutInterval(), 7.5);
  EXPECT_EQ(read("alice"), "MAILTO=alice\n*/10 * * * * /Users/alice/sync\n") << "the tool's work";
}

TEST_F(CronjobTasks, TheOnlyJobIsClearedOnlyWhenItIsTheNamedOne) {
  write("alice", "@daily /bin/changed\n");
  auto result = remove("@daily /bin/original", "alice");
  EXPECT_FALSE(result->isSuccess());
  ASSERT_TRUE(result->error());
  EXPECT_EQ(result->error()->code(), kKLVCronjobServiceOnlyJobMismatchError);
  EXPECT_TRUE(runner->inputs.empty());
  EXPECT_EQ(read("alice"), "@daily /bin/changed\n");
}

TEST_F(CronjobTasks, RemovingOneOfSeveralLeavesTheOthersIntact) {
  const std::string text = "# jobs\n"
                           "0 * * * * /bin/job --extra\n"
                           "0 * * * * /bin/job\n"
                           "@daily /bin/other\n";
  write("root", text);
  EXPECT_TRUE(remove("0 * * * * /bin/job", "root")->isSuccess());
  EXPECT_EQ(read("root"), "# jobs\n0 * * * * /bin/job --extra\n@daily /bin/other\n");
  EXPECT_TRUE(runner->inputs.empty());

  // The longer line that contains the removed one was not touched; asking again finds nothing.
  auto again = remove("0 * * * * /bin/job", "root");
  EXPECT_FALSE(again->isSuccess());
  EXPECT_EQ(again->error()->code(), kKLVCronjobServicePartialMatchError);
  EXPECT_EQ(read("root"), "# jobs\n0 * * * * /bin/job --extra\n@daily /bin/other\n");
}

TEST_F(CronjobTasks, FailuresComeBackAsStatusResults) {
  auto noCrontab = remove("@daily /bin/x", "nobody");
  EXPECT_EQ(noCrontab->type(), KLVResultObject::mixed);
  EXPECT_FALSE(noCrontab->isSuccess());
  EXPECT_EQ(noCrontab->error()->code(), kKLVCronjobServiceNoCrontabError);

  write("bob", "@daily /bin/\xFF\n@daily /bin/y\n");
  auto undecodable = remove("@daily /bin/y", "bob");
  EXPECT_EQ(undecodable->type(), KLVResultObject::mixed);
  EXPECT_FALSE(undecodable->isSuccess());
  EXPECT_EQ(undecodable->error()->domain(), kKLVCronjobServiceErrorDomain);
  EXPECT_EQ(undecodable->error()->code(), 101) << "the fetch that comes first fails";

  write("carol", "@daily /bin/a\n");
  runner->output = KLVTaskRunnerOutput(2, "", "denied");
  auto toolFailed = remove("@daily /bin/a", "carol");
  EXPECT_FALSE(toolFailed->isSuccess());
  EXPECT_EQ(toolFailed->error()->code(), 104);
}

TEST_F(CronjobTasks, FetcherReturnsJobsThatSurviveTheResultArchive) {
  KLVPrivilegedAccessCronjobFetcherTask task(3);
  EXPECT_TRUE(performWithService(task, service)->isEmpty());

  write("root", "@reboot /sbin/start\n");
  write("alice", "*/5 * * * * \"${HOME}/a b.sh\" > /dev/null\n");
  write("bob", "\xFE\n");
  auto result = performWithService(task, service);
  ASSERT_EQ(result->type(), KLVResultObject::mixed);
  EXPECT_EQ(result->error()->code(), 102);

  registerTaskClasses();
  auto bytes = tasks_test::archive(result);
  ASSERT_FALSE(bytes.empty());
  platform::NSError error;
  auto decoded =
      std::dynamic_pointer_cast<KLVResultObject>(platform::archive::unarchivedObjectOfClasses(
          {&KLVResultObject::classObject(), &NSArray::classObject(), &KLVCronjob::classObject()},
          bytes, &error));
  ASSERT_NE(decoded, nullptr) << error.description();
  EXPECT_TRUE(decoded->isEqual(*result));
  auto jobs = std::dynamic_pointer_cast<NSArray>(decoded->value())->objectsOfClass<KLVCronjob>();
  ASSERT_TRUE(jobs);
  ASSERT_EQ(jobs->size(), 2u);
  const KLVCronjob& alice = *(*jobs)[0];
  EXPECT_EQ(alice.userName(), "alice");
  EXPECT_EQ(alice.cronjobRecord().schedulerPattern(), "*/5 * * * *");
  EXPECT_EQ(alice.cronjobRecord().executablePaths(), std::vector<std::string>{"${HOME}/a b.sh"});
  EXPECT_EQ(alice.lastModificationDate(), (*jobs)[0]->lastModificationDate());
  EXPECT_TRUE((*jobs)[1]->isUnderAdminPrivilege());
}

TEST_F(CronjobTasks, RecordsWithoutTheirRequiredKeysDoNotDecode) {
  registerTaskClasses();
  const platform::archive::ClassSet allowed = {&KLVCronjob::classObject()};
  // A job without its record, or whose record has a single string for its paths, is refused.
  class OddRecord final : public platform::archive::Object {
  public:
    const platform::archive::ObjectClass& objectClass() const override {
      return KLVCronjobRecord::classObject();
    }
    void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override {
      coder.encodeString("@daily /x", "source");
      coder.encodeString("/x", "executablePaths");
    }
  };
  class JobWithOddRecord final : public platform::archive::Object {
  public:
    explicit JobWithOddRecord(bool withRecord) : withRecord_(withRecord) {}
    const platform::archive::ObjectClass& objectClass() const override {
      return KLVCronjob::classObject();
    }
    void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override {
      coder.encodeString("root", "userName");
      if (withRecord_) {
        coder.encodeObject(std::make_shared<OddRecord>(), "cronjobRecord");
      }
    }

  private:
    bool withRecord_;
  };
  for (bool withRecord : {true, false}) {
    EXPECT_EQ(
        platform::archive::unarchivedObjectOfClasses(
            allowed, tasks_test::archive(std::make_shared<JobWithOddRecord>(withRecord)), nullptr),
        nullptr);
  }
}
