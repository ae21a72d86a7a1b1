#pragma once

#include "platform/archive/Object.h"
#include "tasks/model/KLVResultObject.h"

#include <mutex>
#include <unordered_map>

namespace tasks {

class KLVPrivilegedAccessTask;

// What `perform` does for each task class, looked up by the task's class. The model declares
// the tasks and archives them; the services that carry them out are root-only and live in the
// agent's library, which fills this table through one explicit call at start-up
// (registerTaskExecutors in tasks/TaskExecution.h). A client that builds and decodes tasks
// thus carries none of those services.
class TaskExecutors {
public:
  using Executor = ResultPtr (*)(KLVPrivilegedAccessTask& task);

  // The table that every task's `perform` consults.
  static TaskExecutors& shared();

  // Registers `execute` for the tasks of class `Task` (a final task class); a later
  // registration for the same class replaces it.
  template <class Task, ResultPtr (*execute)(Task&)> void setExecutor() {
    setExecutor(Task::classObject(), [](KLVPrivilegedAccessTask& task) {
      // Found by the task's own class, and every task class is final.
      return execute(static_cast<Task&>(task));
    });
  }
  void setExecutor(const platform::archive::ObjectClass& taskClass, Executor executor);
  bool hasExecutor(const platform::archive::ObjectClass& taskClass) const;

  // Runs the executor registered for the task's class on the calling thread. Without one, a
  // failure result in kKLVPrivilegedAccessErrorDomain, code
  // kKLVPrivilegedAccessNoExecutorErrorCode, that names the class.
  ResultPtr perform(KLVPrivilegedAccessTask& task) const;

private:
  Executor executorFor(const platform::archive::ObjectClass& taskClass) const;

  mutable std::mutex mutex_;
  std::unordered_map<const platform::archive::ObjectClass*, Executor> executors_;
};

} // namespace tasks
