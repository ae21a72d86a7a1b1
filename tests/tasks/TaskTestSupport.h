#pragma once

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/TaskClasses.h"

#include <memory>

namespace tasks_test {

inline platform::Bytes archive(const platform::archive::ObjectPtr& object) {
  platform::NSError error;
  auto bytes = platform::archive::archivedDataWithRootObject(object, true, &error);
  return bytes.value_or(platform::Bytes());
}

// Decodes a task root the way the agent does.
inline std::shared_ptr<tasks::KLVPrivilegedAccessTask>
unarchiveTask(const platform::Bytes& bytes, platform::NSError* error = nullptr) {
  tasks::registerTaskClasses();
  return platform::archive::unarchivedObjectOfClass<tasks::KLVPrivilegedAccessTask>(bytes, error);
}

} // namespace tasks_test
