#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"

#include "platform/archive/Values.h"
#include "tasks/signatures/KLVSignatureAccessService.h"

namespace tasks {
namespace {

// Type 1 with the identifier, 2 with the error, 0 when the file has no such identifier.
ResultPtr identifierResult(const std::optional<std::string>& identifier,
                           const platform::NSError& error) {
  return KLVResultObject::resultWithValue(
      identifier ? platform::archive::NSString::make(*identifier) : nullptr,
      error.domain().empty() ? std::nullopt : std::optional(error));
}

} // namespace

const platform::archive::ObjectClass& KLVPrivilegedAccessTeamIdentifierTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessTeamIdentifierTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessTeamIdentifierTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessTeamIdentifierTask::perform() {
  platform::NSError error;
  auto teamIdentifier = KLVSignatureAccessService().fetchTeamIdentifierForURL(
      url(), shouldCheckValidityStatus_, &error);
  return identifierResult(teamIdentifier, error);
}

const platform::archive::ObjectClass& KLVPrivilegedAccessBundleIdentifierTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessBundleIdentifierTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeURLTask<KLVPrivilegedAccessBundleIdentifierTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessBundleIdentifierTask::perform() {
  platform::NSError error;
  auto bundleIdentifier = KLVSignatureAccessService().fetchBundleIdentifierForURL(url(), &error);
  return identifierResult(bundleIdentifier, error);
}

} // namespace tasks
