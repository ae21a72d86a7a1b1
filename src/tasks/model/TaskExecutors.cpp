#include "tasks/model/TaskExecutors.h"

#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/PrivilegedAccessErrors.h"

namespace tasks {

TaskExecutors& TaskExecutors::shared() {
  static TaskExecutors executors;
  return executors;
}

void TaskExecutors::setExecutor(const platform::archive::ObjectClass& taskClass,
                                Executor executor) {
  const std::lock_guard lock(mutex_);
  executors_[&taskClass] = executor;
}

TaskExecutors::Executor
TaskExecutors::executorFor(const platform::archive::ObjectClass& taskClass) const {
  const std::lock_guard lock(mutex_);
  auto found = executors_.find(&taskClass);
  return found == executors_.end() ? nullptr : found->second;
}

bool TaskExecutors::hasExecutor(const platform::archive::ObjectClass& taskClass) const {
  return executorFor(taskClass) != nullptr;
}

ResultPtr TaskExecutors::perform(KLVPrivilegedAccessTask& task) const {
  const platform::archive::ObjectClass& taskClass = task.objectClass();
  // Run outside the lock: a task may take as long as its tool.
  const Executor executor = executorFor(taskClass);
  if (executor == nullptr) {
    return KLVResultObject::failureResultWithError(platform::NSError(
        kKLVPrivilegedAccessErrorDomain, kKLVPrivilegedAccessNoExecutorErrorCode,
        {{platform::NSLocalizedDescriptionKey,
          "No executor for " + taskClass.name() + " is registered in this process"}}));
  }
  return executor(task);
}

} // namespace tasks
