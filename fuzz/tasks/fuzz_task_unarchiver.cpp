// Securely unarchives a privileged access task from arbitrary bytes, as the agent does with a
// request's task data, and checks that whatever decodes archives again into a task of the same
// class and hash (equality is left out: a date that is not a number never equals itself).
// Tasks are never performed here.
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/TaskClasses.h"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    tasks::registerTaskClasses();
    return true;
  }();
  (void)registered;

  platform::NSError error;
  auto task = platform::archive::unarchivedObjectOfClass<tasks::KLVPrivilegedAccessTask>(
      std::span<const uint8_t>(data, size), &error);
  if (task == nullptr) {
    return 0;
  }
  (void)task->identifier();
  (void)task->description();
  auto bytes = platform::archive::archivedDataWithRootObject(task, true, &error);
  if (!bytes) {
    std::abort(); // every decoded task must archive again
  }
  auto copy =
      platform::archive::unarchivedObjectOfClass<tasks::KLVPrivilegedAccessTask>(*bytes, &error);
  if (copy == nullptr || &copy->objectClass() != &task->objectClass() ||
      copy->hash() != task->hash()) {
    std::abort();
  }
  return 0;
}
