// The tasks of this test program run as the agent runs them: with every executor registered,
// once, before the first test.
#include "tasks/TaskExecution.h"

#include <gtest/gtest.h>

namespace {

class TaskExecutionEnvironment : public ::testing::Environment {
public:
  void SetUp() override { tasks::registerTaskExecutors(); }
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new TaskExecutionEnvironment);

} // namespace
