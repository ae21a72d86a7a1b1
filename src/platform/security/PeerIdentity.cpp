#include "platform/security/PeerIdentity.h"

#include "platform/security/ProcessInspection.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace platform::security {

namespace {

SecStatus gone(pid_t pid) {
  return SecStatus(errSecCSNoSuchCode, "process " + std::to_string(pid) + " is gone");
}

// Device and inode of the executable that `pid` runs.
bool executableOf(pid_t pid, uint64_t& device, uint64_t& inode) {
  struct stat status {};
  if (::stat(("/proc/" + std::to_string(pid) + "/exe").c_str(), &status) != 0) {
    return false;
  }
  device = status.st_dev;
  inode = status.st_ino;
  return true;
}

} // namespace

SecStatus PeerIdentity::record(pid_t pid, int pidfd, PeerIdentity& identity) {
  auto owner = pidOfPidfd(pidfd);
  if (pid <= 0 || !owner || *owner != pid) {
    return gone(pid);
  }
  PeerIdentity recorded;
  recorded.pid_ = pid;
  recorded.pidfd_ = UniqueFd(::fcntl(pidfd, F_DUPFD_CLOEXEC, 0));
  if (!recorded.pidfd_.valid()) {
    return gone(pid);
  }
  ProcessImage after;
  if (SecStatus status = readProcessImage(pid, recorded.image_); !status) {
    return status;
  }
  if (!executableOf(pid, recorded.device_, recorded.inode_)) {
    return gone(pid);
  }
  if (SecStatus status = readProcessImage(pid, after); !status) {
    return status;
  }
  if (!isPidfdAlive(recorded.pidfd_.get())) {
    return gone(pid);
  }
  if (recorded.image_.envEnd == 0 || !(after == recorded.image_)) {
    return SecStatus(errSecCSGuestInvalid,
                     "process " + std::to_string(pid) +
                         " refused: it is in the middle of starting a program");
  }
  identity = std::move(recorded);
  return SecStatus::success();
}

SecStatus PeerIdentity::stillSame() const {
  if (!pidfd_.valid() || !isPidfdAlive(pidfd_.get())) {
    return gone(pid_);
  }
  uint64_t device = 0;
  uint64_t inode = 0;
  if (!executableOf(pid_, device, inode)) {
    return gone(pid_);
  }
  ProcessImage image;
  if (SecStatus status = readProcessImage(pid_, image); !status) {
    return status;
  }
  if (SecStatus status = checkNotTraced(pid_); !status) {
    return status;
  }
  // What /proc said belongs to our peer only if it is still alive after the reads.
  if (!isPidfdAlive(pidfd_.get())) {
    return gone(pid_);
  }
  if (device != device_ || inode != inode_ || !(image == image_)) {
    return SecStatus(errSecCSGuestInvalid,
                     "process " + std::to_string(pid_) + " now runs another executable");
  }
  return SecStatus::success();
}

} // namespace platform::security
