#pragma once

#include "platform/security/ProcessChecks.h"
#include "platform/security/SecStatus.h"
#include "platform/security/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <sys/types.h>

namespace platform::security {

// The identity of a connected peer, recorded when the connection is accepted: its pidfd and
// the device and inode of the executable it runs and the addresses of its program image.
// `stillSame` runs for every incoming frame: it catches a peer that exited (and whose pid may be
// reused) or that executed another program (even the same executable again, which a fresh image
// shows) with a pidfd poll, one read of an open /proc descriptor and one fstatat. Whether the
// peer is traced is read from its status file, which the kernel formats at some cost, at most
// every kTracerCheckInterval: a tracer could detach before the peer sends anyway, so checking it
// on every frame would buy little.
class PeerIdentity {
public:
  // `pidfd` must refer to `pid` (it is duplicated). errSecCSNoSuchCode when the process is gone.
  static SecStatus record(pid_t pid, int pidfd, PeerIdentity& identity);

  // errSecSuccess while the peer is the same process running the same executable untraced;
  // errSecCSNoSuchCode when it is gone; errSecCSGuestInvalid when it changed or is traced.
  SecStatus stillSame() const;

  static constexpr std::chrono::milliseconds kTracerCheckInterval{100};

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
  // When the tracer was last checked (steady clock, nanoseconds); 0 before the first frame.
  std::unique_ptr<std::atomic<int64_t>> lastTracerCheck_ =
      std::make_unique<std::atomic<int64_t>>(0);
};

} // namespace platform::security
