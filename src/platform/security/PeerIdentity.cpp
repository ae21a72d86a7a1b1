#include "platform/security/PeerIdentity.h"

#include <fcntl.h>
#include <string>

namespace platform::security {

namespace {

SecStatus changed(pid_t pid, const char* what) {
  return SecStatus(errSecCSGuestInvalid, "process " + std::to_string(pid) + " " + what);
}

} // namespace

SecStatus PeerIdentity::record(pid_t pid, int pidfd, PeerIdentity& identity) {
  auto owner = pidOfPidfd(pidfd);
  if (pid <= 0 || !owner || *owner != pid) {
    return SecStatus::processGone(pid);
  }
  PeerIdentity recorded;
  recorded.pid_ = pid;
  recorded.pidfd_ = UniqueFd(::fcntl(pidfd, F_DUPFD_CLOEXEC, 0));
  if (!recorded.pidfd_.valid()) {
    return SecStatus::processGone(pid);
  }
  if (SecStatus status = ProcessFiles::open(pid, recorded.files_); !status) {
    return status;
  }
  ProcessImage after;
  if (SecStatus status = recorded.files_.readImage(recorded.image_); !status) {
    return status;
  }
  if (SecStatus status = recorded.files_.executable(recorded.device_, recorded.inode_); !status) {
    return status;
  }
  if (SecStatus status = recorded.files_.readImage(after); !status) {
    return status;
  }
  // The /proc entry opened above belongs to the pidfd's process only if it is alive now.
  if (!isPidfdAlive(recorded.pidfd_.get())) {
    return SecStatus::processGone(pid);
  }
  if (recorded.image_.envEnd == 0 || !(after == recorded.image_)) {
    return changed(pid, "refused: it is in the middle of starting a program");
  }
  identity = std::move(recorded);
  return SecStatus::success();
}

SecStatus PeerIdentity::stillSame() const {
  if (!pidfd_.valid()) {
    return SecStatus::processGone(pid_);
  }
  // Run for every frame, so the usual case costs two system calls. A process that has begun to
  // exit shows no memory layout and no executable, and one that has been reaped cannot be read
  // at all through the files opened while it lived: both fail the checks below, and only then
  // does the pidfd tell an exit from a change.
  ProcessImage image;
  uint64_t device = 0;
  uint64_t inode = 0;
  SecStatus status = files_.readImage(image);
  if (status) {
    status = files_.executable(device, inode);
  }
  if (!status || device != device_ || inode != inode_ || !(image == image_)) {
    if (!isPidfdAlive(pidfd_.get())) {
      return SecStatus::processGone(pid_);
    }
    return status ? changed(pid_, "now runs another program") : status;
  }
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  const int64_t interval = std::chrono::nanoseconds(kTracerCheckInterval).count();
  if (now - lastTracerCheck_->load(std::memory_order_relaxed) >= interval) {
    if (SecStatus traced = files_.checkNotTraced(); !traced) {
      return traced;
    }
    lastTracerCheck_->store(now, std::memory_order_relaxed);
  }
  return SecStatus::success();
}

} // namespace platform::security
