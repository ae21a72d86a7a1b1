#include "agent/AuditLog.h"

#include "platform/archive/BinaryPropertyList.h"
#include "platform/foundation/LogText.h"
#include "platform/log/OSLog.h"

#include <cstdio>
#include <vector>

namespace agent {
namespace {

using Ref = platform::archive::BinaryPropertyList::Ref;

// URLs named in an audit line, at most.
constexpr size_t kMaxAuditedURLs = 4;
// Bytes of one text field (a path, an error) shown in an audit line, at most: a client may
// send a name of megabytes, and the log must not carry it.
constexpr size_t kMaxAuditedText = 4096;

// The archived object that `reference` (a UID) points to; a null reference otherwise.
Ref objectAt(const Ref& objects, const Ref& reference) {
  const auto uid = reference.uidValue();
  return uid && *uid < objects.arraySize() ? objects.arrayItem(*uid) : Ref();
}

std::string classNameOf(const Ref& objects, const Ref& object) {
  const auto name = objectAt(objects, object["$class"])["$classname"].stringValue();
  return name ? std::string(*name) : std::string();
}

std::optional<std::string> urlTextOf(const Ref& objects, const Ref& object) {
  if (classNameOf(objects, object) != "NSURL") {
    return std::nullopt;
  }
  Ref relative = object["NS.relative"];
  if (relative.uidValue()) {
    relative = objectAt(objects, relative);
  }
  const auto text = relative.stringValue();
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

} // namespace

std::string describeArchivedTask(std::span<const uint8_t> archive) {
  std::string fault;
  const auto list = platform::archive::BinaryPropertyList::read(
      archive, platform::archive::ArchiveLimits{}, fault);
  if (!list) {
    return "an unreadable task archive";
  }
  const Ref top = list->top();
  const Ref objects = top["$objects"];
  const Ref root = objectAt(objects, top["$top"]["root"]);
  std::string description = classNameOf(objects, root);
  if (description.empty()) {
    return "a task archive without a root object";
  }
  // The URLs among the task's fields, directly or in an array.
  std::vector<std::string> urls;
  for (size_t field = 0; field < root.dictionarySize() && urls.size() <= kMaxAuditedURLs; ++field) {
    const Ref value = objectAt(objects, root.dictionaryValue(field));
    if (auto url = urlTextOf(objects, value)) {
      urls.push_back(std::move(*url));
      continue;
    }
    const Ref items = value["NS.objects"];
    for (size_t item = 0; item < items.arraySize() && urls.size() <= kMaxAuditedURLs; ++item) {
      if (auto url = urlTextOf(objects, objectAt(objects, items.arrayItem(item)))) {
        urls.push_back(std::move(*url));
      }
    }
  }
  for (size_t index = 0; index < urls.size() && index < kMaxAuditedURLs; ++index) {
    description += (index == 0 ? " " : ", ") + urls[index];
  }
  if (urls.size() > kMaxAuditedURLs) {
    description += " and more";
  }
  return description;
}

AuditRecord::AuditRecord(std::optional<ipc::ClientIdentity> client, std::string_view requestType,
                         std::string subject)
    : client_(std::move(client)),
      requestType_(requestType.substr(
          requestType.rfind('.') == std::string_view::npos ? 0 : requestType.rfind('.') + 1)),
      subject_(std::move(subject)), started_(std::chrono::steady_clock::now()) {}

void AuditRecord::write(const std::optional<std::string>& error) const {
  static const platform::OSLog log("PrivilegedAgent", "Audit");
  const double milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_)
          .count();
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f", milliseconds);
  std::string line = "request=" + requestType_ +
                     " subject=" + platform::quotedForLog(subject_, kMaxAuditedText) +
                     " outcome=" + (error ? "failure" : "success");
  if (error) {
    line += " error=" + platform::quotedForLog(*error, kMaxAuditedText);
  }
  line += std::string(" duration_ms=") + duration;
  if (client_) {
    line +=
        " client_pid=" + std::to_string(client_->pid) +
        " client_uid=" + std::to_string(client_->uid) +
        " client_executable=" + platform::quotedForLog(client_->executable, kMaxAuditedText) +
        " client_identifier=" + platform::quotedForLog(client_->signingIdentifier, kMaxAuditedText);
  } else {
    line += " client=unknown";
  }
  log.notice(line);
}

} // namespace agent
