#include "tasks/signatures/SignatureTaskExecutors.h"

#include "platform/archive/Values.h"
#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"
#include "tasks/signatures/KLVSignatureAccessService.h"

#include <optional>
#include <string>

namespace tasks {
namespace {

// Type 1 with the identifier, 2 with the error, 0 when the file has no such identifier.
ResultPtr identifierResult(const std::optional<std::string>& identifier,
                           const platform::NSError& error) {
  return KLVResultObject::resultWithValue(
      identifier ? platform::archive::NSString::make(*identifier) : nullptr,
      error.domain().empty() ? std::nullopt : std::optional(error));
}

ResultPtr fetchTeamIdentifier(KLVPrivilegedAccessTeamIdentifierTask& task) {
  platform::NSError error;
  auto teamIdentifier = KLVSignatureAccessService().fetchTeamIdentifierForURL(
      task.url(), task.shouldCheckValidityStatus(), &error);
  return identifierResult(teamIdentifier, error);
}

ResultPtr fetchBundleIdentifier(KLVPrivilegedAccessBundleIdentifierTask& task) {
  platform::NSError error;
  auto bundleIdentifier =
      KLVSignatureAccessService().fetchBundleIdentifierForURL(task.url(), &error);
  return identifierResult(bundleIdentifier, error);
}

} // namespace

void registerSignatureTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessTeamIdentifierTask, fetchTeamIdentifier>();
  executors.setExecutor<KLVPrivilegedAccessBundleIdentifierTask, fetchBundleIdentifier>();
}

} // namespace tasks
