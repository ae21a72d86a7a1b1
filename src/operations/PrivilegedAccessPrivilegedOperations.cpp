#include "operations/PrivilegedAccessPrivilegedOperations.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/TaskExecution.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/TaskClasses.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>

namespace operations {

using platform::NSError;

PrivilegedAccessPrivilegedOperations::PrivilegedAccessPrivilegedOperations() {
  // The agent makes its one instance while it registers its handlers, before it listens: from
  // then on every task class decodes and has its executor.
  static std::once_flag registered;
  std::call_once(registered, [] {
    tasks::registerTaskClasses();
    tasks::registerTaskExecutors();
  });
}

PrivilegedAccessPrivilegedOperations::TaskReply
PrivilegedAccessPrivilegedOperations::performTask(std::span<const uint8_t> taskData) const {
  NSError error;
  auto object = platform::archive::unarchivedObjectOfClasses(
      {&tasks::KLVPrivilegedAccessTask::classObject()}, taskData, &error);
  auto task = std::dynamic_pointer_cast<tasks::KLVPrivilegedAccessTask>(object);
  if (task == nullptr) {
    if (!error.domain().empty()) {
      throw platform::NSErrorException(error);
    }
    throw CouldNotUnarchiveTaskError();
  }

  tasks::ResultPtr result = task->perform();

  std::vector<int> borrowed;
  auto resultData = platform::archive::archivedDataWithRootObject(result, true, &error, &borrowed);
  if (!resultData) {
    throw platform::NSErrorException(error);
  }
  // The handles inside the result close their descriptors when the result goes; the reply
  // keeps its own duplicates.
  TaskReply reply{std::move(*resultData), {}};
  for (int descriptor : borrowed) {
    utilities::UniqueFd duplicate(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
    if (!duplicate) {
      throw platform::NSErrorException(NSError::posix(errno));
    }
    reply.fileDescriptors.push_back(std::move(duplicate));
  }
  return reply;
}

} // namespace operations
