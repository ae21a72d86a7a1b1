#include "platform/foundation/Workspace.h"

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

struct SharedWorkspaceSlot {
  std::mutex mutex;
  std::shared_ptr<Workspace> workspace;
};

SharedWorkspaceSlot& sharedWorkspaceSlot() {
  static SharedWorkspaceSlot slot;
  return slot;
}

} // namespace

std::optional<URL> Workspace::URLForApplicationWithBundleIdentifier(const std::string&) const {
  return std::nullopt;
}

bool Workspace::launchApplicationAtURL(const URL& url, uint64_t, NSError* error) {
  setError(error, NSError::cocoaFile(NSFileNoSuchFileError, url.path(), ENOENT));
  return false;
}

std::vector<std::shared_ptr<RunningApplication>>
Workspace::runningApplicationsWithBundleIdentifier(const std::string&) const {
  return {};
}

std::shared_ptr<Workspace> Workspace::shared() {
  std::lock_guard lock(sharedWorkspaceSlot().mutex);
  if (!sharedWorkspaceSlot().workspace) {
    sharedWorkspaceSlot().workspace = std::make_shared<Workspace>();
  }
  return sharedWorkspaceSlot().workspace;
}

void Workspace::setSharedForTest(std::shared_ptr<Workspace> workspace) {
  std::lock_guard lock(sharedWorkspaceSlot().mutex);
  sharedWorkspaceSlot().workspace = std::move(workspace);
}

} // namespace platform
