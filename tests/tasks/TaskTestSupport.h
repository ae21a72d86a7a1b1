#pragma once

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"
#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"
#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"
#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"
#include "tasks/model/TaskClasses.h"

#include <memory>
#include <vector>

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

inline std::shared_ptr<tasks::KLVConfigurationProfile> sampleProfile() {
  tasks::KLVConfigurationProfile::Fields fields{
      "alice",
      "Wi-Fi",
      "com.example.wifi",
      "1234-ABCD",
      true,
      false,
      platform::Date::fromTimeIntervalSinceReferenceDate(5)};
  return std::make_shared<tasks::KLVConfigurationProfile>(fields);
}

// One task of every task class, with fields that decode.
inline std::vector<std::shared_ptr<tasks::KLVPrivilegedAccessTask>> everyTaskKind() {
  using namespace tasks;
  auto fileURL = [](const char* path) { return platform::URL::fileURLWithPath(path); };
  return {
      std::make_shared<KLVPrivilegedAccessFileRemoverTask>(fileURL("/tmp/a")),
      std::make_shared<KLVPrivilegedAccessProcessTerminatorTask>(77),
      std::make_shared<KLVPrivilegedAccessLaunchAgentRemoverTask>(fileURL("/tmp/job.plist"), 5.0),
      std::make_shared<KLVPrivilegedAccessFileSizeTask>(fileURL("/tmp/b")),
      std::make_shared<KLVPrivilegedAccessEmptyDirectoryFetcherTask>(fileURL("/tmp/c")),
      std::make_shared<KLVPrivilegedAccessEnumeratorTask>(fileURL("/tmp/d"), true, 4),
      std::make_shared<KLVPrivilegedAccessProfileFetcherTask>(2.0),
      std::make_shared<KLVPrivilegedAccessProfileRemoverTask>(sampleProfile(), 2.0),
      std::make_shared<KLVPrivilegedAccessCronjobFetcherTask>(1.5),
      std::make_shared<KLVPrivilegedAccessCronjobRemoverTask>("* * * * * x", "bob", 1.5),
      std::make_shared<KLVPrivilegedAccessTeamIdentifierTask>(fileURL("/Applications/A"), true),
      std::make_shared<KLVPrivilegedAccessBundleIdentifierTask>(fileURL("/Applications/B")),
      std::make_shared<KLVPrivilegedAccessSafariHomepageResetTask>("carol", 3.0),
      std::make_shared<KLVPrivilegedAccessFileHandleTask>(fileURL("/tmp/e"), 3),
  };
}

} // namespace tasks_test
