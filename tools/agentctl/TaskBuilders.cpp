#include "TaskBuilders.h"

#include "TaskFields.h"
#include "tasks/model/KLVConfigurationProfile.h"
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

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

namespace agentctl {
namespace {

using platform::archive::ObjectPtr;
using namespace tasks;

// Used when the JSON leaves them out; both are documented in the command's help.
constexpr double kDefaultToolTimeout = 30.0;
constexpr int64_t kDefaultEnumerationDepth = 64;

double timeout(TaskFields& fields) {
  return fields.number("externalUtilityExecutionTimeout", kDefaultToolTimeout);
}

std::shared_ptr<KLVConfigurationProfile> profile(TaskFields fields) {
  KLVConfigurationProfile::Fields profile;
  profile.userName = fields.text("userName");
  profile.profileName = fields.text("profileName");
  profile.profileIdentifier = fields.text("profileIdentifier");
  profile.profileUUIDText = fields.text("profileUUIDText");
  profile.isUnderAdminPrivilege = fields.flag("isUnderAdminPrivilege", false);
  profile.isRemovalDisallowed = fields.flag("isRemovalDisallowed", false);
  profile.installationDate = fields.date("installationDate");
  fields.finish();
  return std::make_shared<KLVConfigurationProfile>(std::move(profile));
}

// Builds one class's task from its fields; the uuid is read first by the caller.
using Builder = std::function<ObjectPtr(const platform::UUID&, TaskFields&)>;

template <class Task> Builder urlTask() {
  return [](const platform::UUID& uuid, TaskFields& fields) {
    return std::make_shared<Task>(uuid, fields.url("url"));
  };
}

template <class Task> Builder timeoutTask() {
  return [](const platform::UUID& uuid, TaskFields& fields) {
    return std::make_shared<Task>(uuid, timeout(fields));
  };
}

const std::vector<std::pair<std::string_view, Builder>>& builders() {
  static const std::vector<std::pair<std::string_view, Builder>> table = {
      {"KLVPrivilegedAccessBundleIdentifierTask",
       urlTask<KLVPrivilegedAccessBundleIdentifierTask>()},
      {"KLVPrivilegedAccessCronjobFetcherTask",
       timeoutTask<KLVPrivilegedAccessCronjobFetcherTask>()},
      {"KLVPrivilegedAccessCronjobRemoverTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         auto source = fields.text("cronjobSource");
         auto userName = fields.text("userName");
         return std::make_shared<KLVPrivilegedAccessCronjobRemoverTask>(
             uuid, std::move(source), std::move(userName), timeout(fields));
       }},
      {"KLVPrivilegedAccessEmptyDirectoryFetcherTask",
       urlTask<KLVPrivilegedAccessEmptyDirectoryFetcherTask>()},
      {"KLVPrivilegedAccessEnumeratorTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         auto rootURL = fields.url("rootURL");
         const bool collectDirectories = fields.flag("shouldCollectDirectory", false);
         const auto depth =
             fields.integer("maxEnumerationDepth", 0, std::numeric_limits<int64_t>::max(),
                            kDefaultEnumerationDepth);
         return std::make_shared<KLVPrivilegedAccessEnumeratorTask>(
             uuid, std::move(rootURL), collectDirectories, static_cast<uint64_t>(depth));
       }},
      {"KLVPrivilegedAccessFileHandleTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         auto url = fields.url("url");
         const auto type = fields.integer("fileHandleType", std::numeric_limits<int64_t>::min(),
                                          std::numeric_limits<int64_t>::max());
         return std::make_shared<KLVPrivilegedAccessFileHandleTask>(uuid, std::move(url), type);
       }},
      {"KLVPrivilegedAccessFileRemoverTask", urlTask<KLVPrivilegedAccessFileRemoverTask>()},
      {"KLVPrivilegedAccessFileSizeTask", urlTask<KLVPrivilegedAccessFileSizeTask>()},
      {"KLVPrivilegedAccessLaunchAgentRemoverTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         auto url = fields.url("url");
         return std::make_shared<KLVPrivilegedAccessLaunchAgentRemoverTask>(uuid, std::move(url),
                                                                            timeout(fields));
       }},
      {"KLVPrivilegedAccessProcessTerminatorTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         const auto pid = fields.integer("processIdentifier", std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max());
         return std::make_shared<KLVPrivilegedAccessProcessTerminatorTask>(
             uuid, static_cast<int32_t>(pid));
       }},
      {"KLVPrivilegedAccessProfileFetcherTask",
       timeoutTask<KLVPrivilegedAccessProfileFetcherTask>()},
      {"KLVPrivilegedAccessProfileRemoverTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         auto configurationProfile = profile(fields.object("profile"));
         return std::make_shared<KLVPrivilegedAccessProfileRemoverTask>(
             uuid, std::move(configurationProfile), timeout(fields));
       }},
      {"KLVPrivilegedAccessSafariHomepageResetTask",
       [](const platform::UUID& uuid, TaskFields& fields) {
         auto userName = fields.text("userName");
         return std::make_shared<KLVPrivilegedAccessSafariHomepageResetTask>(
             uuid, std::move(userName), timeout(fields));
       }},
      // The validity flag is not archived, so it is not a field here either.
      {"KLVPrivilegedAccessTeamIdentifierTask", urlTask<KLVPrivilegedAccessTeamIdentifierTask>()},
  };
  return table;
}

} // namespace

std::vector<std::string_view> taskClassNames() {
  std::vector<std::string_view> names;
  for (const auto& [name, builder] : builders()) {
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

ObjectPtr buildTask(std::string_view className, const platform::json::Value& fields) {
  const auto& table = builders();
  auto entry = std::find_if(table.begin(), table.end(),
                            [&](const auto& candidate) { return candidate.first == className; });
  if (entry == table.end()) {
    throw TaskFieldError("unknown task class \"" + std::string(className) +
                         "\" (\"agentctl task --list\" lists them)");
  }
  TaskFields reader(fields);
  const platform::UUID uuid = reader.uuid();
  ObjectPtr task = entry->second(uuid, reader);
  reader.finish();
  return task;
}

} // namespace agentctl
