#pragma once

#include "platform/security/ProcessChecks.h"
#include "platform/security/SecStatus.h"
#include "platform/security/UniqueFd.h"

#include <cstdint>
#include <sys/types.h>

namespace platform::security {

// The identity of a connected peer, recorded when the connection is accepted: its pidfd and
// the device and inode of the executable it runs and the addresses of its program image.
// `stillSame` (three reads of open /proc descriptors and one fstatat) is cheap enough to run for
// every incoming frame; it catches a peer that exited (and whose pid may be reused), that executed
// another program (even the same executable again, which a fresh image shows), or that is being
// traced now.
class PeerIdentity {
public:
  // `pidfd` must refer to `pid` (it is duplicated). errSecCSNoSuchCode when the process is gone.
  static SecStatus record(pid_t pid, int pidfd, PeerIdentity& identity);

  // errSecSuccess while the peer is the same process running the same executable untraced;
  // errSecCSNoSuchCode when it is gone; errSecCSGuestInvalid when it changed or is traced.
  SecStatus stillSame() const;

  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_.get(); }
  uint64_t executableDevice() const { return device_; }
  uint64_t executableInode() const { return inode_; }

private:
  pid_t pid_ = 0;
  UniqueFd pidfd_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  ProcessImage image_;
  ProcessFiles files_; // the peer's /proc entries, tied to that process
};

} // namespace platform::security
