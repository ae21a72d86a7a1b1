// Runs in a test program that links the model alone, as agentctl does: no task has an executor
// here unless a test registers one in a table of its own.
#include "TaskTestSupport.h"
#include "platform/archive/Values.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/PrivilegedAccessErrors.h"
#include "tasks/model/TaskExecutors.h"

#include <gtest/gtest.h>

using namespace tasks;
using platform::URL;
using platform::archive::NSString;

namespace {

ResultPtr answerWithPath(KLVPrivilegedAccessFileSizeTask& task) {
  return KLVResultObject::successResultWithValue(NSString::make(task.url().path()));
}

ResultPtr answerEmpty(KLVPrivilegedAccessFileSizeTask&) {
  return KLVResultObject::emptyResult();
}

} // namespace

TEST(TaskExecutors, EveryTaskWithoutAnExecutorFailsWithAnErrorThatNamesItsClass) {
  for (const auto& task : tasks_test::everyTaskKind()) {
    const std::string name = task->objectClass().name();
    ResultPtr result;
    ASSERT_NO_THROW(result = task->perform()) << name;
    ASSERT_NE(result, nullptr) << name;
    EXPECT_EQ(result->type(), KLVResultObject::failure) << name;
    EXPECT_FALSE(result->isSuccess()) << name;
    ASSERT_TRUE(result->error()) << name;
    EXPECT_EQ(result->error()->domain(), kKLVPrivilegedAccessErrorDomain);
    EXPECT_EQ(result->error()->code(), kKLVPrivilegedAccessNoExecutorErrorCode);
    EXPECT_EQ(result->error()->localizedDescription(),
              "No executor for " + name + " is registered in this process");
    // It travels like any other failure.
    EXPECT_FALSE(tasks_test::archive(result).empty()) << name;
  }
}

TEST(TaskExecutors, RunsTheExecutorOfTheTasksOwnClassOnly) {
  TaskExecutors executors;
  executors.setExecutor<KLVPrivilegedAccessFileSizeTask, answerWithPath>();
  EXPECT_TRUE(executors.hasExecutor(KLVPrivilegedAccessFileSizeTask::classObject()));
  EXPECT_FALSE(executors.hasExecutor(KLVPrivilegedAccessFileRemoverTask::classObject()));

  KLVPrivilegedAccessFileSizeTask size(URL::fileURLWithPath("/tmp/size"));
  auto result = executors.perform(size);
  EXPECT_EQ(result->type(), KLVResultObject::success);
  EXPECT_EQ(result->value()->description(), "/tmp/size");

  // Same URL, another class: the size task's executor is not borrowed.
  KLVPrivilegedAccessFileRemoverTask remover(URL::fileURLWithPath("/tmp/size"));
  EXPECT_EQ(executors.perform(remover)->error()->code(), kKLVPrivilegedAccessNoExecutorErrorCode);

  // A separate table does not touch the one that `perform` consults.
  EXPECT_EQ(size.perform()->error()->code(), kKLVPrivilegedAccessNoExecutorErrorCode);
}

TEST(TaskExecutors, ALaterRegistrationReplacesTheEarlierOne) {
  TaskExecutors executors;
  executors.setExecutor<KLVPrivilegedAccessFileSizeTask, answerWithPath>();
  executors.setExecutor<KLVPrivilegedAccessFileSizeTask, answerEmpty>();
  KLVPrivilegedAccessFileSizeTask size(URL::fileURLWithPath("/tmp/size"));
  EXPECT_TRUE(executors.perform(size)->isEmpty());
}
