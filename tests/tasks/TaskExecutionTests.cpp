#include "tasks/TaskExecution.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/TaskClasses.h"

#include <gtest/gtest.h>

using namespace tasks;

TEST(TaskExecution, EveryDecodableTaskClassGetsAnExecutor) {
  TaskExecutors executors;
  registerTaskExecutors(executors);
  int taskClasses = 0;
  for (const platform::archive::ObjectClass* objectClass : taskArchiveClasses()) {
    if (!objectClass->isSubclassOfClass(KLVPrivilegedAccessTask::classObject())) {
      continue; // a record or the result
    }
    ++taskClasses;
    EXPECT_TRUE(executors.hasExecutor(*objectClass)) << objectClass->name();
  }
  EXPECT_EQ(taskClasses, 14);
  EXPECT_FALSE(executors.hasExecutor(KLVPrivilegedAccessTask::classObject()));
}
