#pragma once

#include "platform/security/SecStatus.h"
#include "platform/security/UniqueFd.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace platform::security {

// How a read of a /proc file ended: `missing` means the process is gone.
enum class ReadOutcome { ok, missing, tooLarge, failed };
// Reads the file `name` of an open /proc/PID directory completely, up to `limit` bytes. The
// directory stays tied to its process: once that is gone, reads end `missing`.
ReadOutcome readProcessFile(int processDirectory, const char* name, size_t limit,
                            std::string& contents);

// A pidfd for `pid` (pidfd_open); invalid with errno set on failure. Prefer the one the
// socket gives (peerPidfd): a pid alone may already name another process.
UniqueFd openPidfd(pid_t pid);
// The pidfd of the process at the other end of a connected Unix socket (SO_PEERPIDFD).
UniqueFd peerPidfd(int socketFd);
// True while the process of `pidfd` has not exited (a pidfd turns readable on exit).
bool isPidfdAlive(int pidfd);
// The pid that `pidfd` refers to, from /proc/self/fdinfo; none when it is not a pidfd or the
// process has been reaped.
std::optional<pid_t> pidOfPidfd(int pidfd);

// Where the kernel placed the arguments and environment of the program a process runs
// (/proc/PID/stat). Every exec draws new, randomised addresses, so a changed image means the
// process has started another program, even the same executable again. envEnd is 0 while an
// exec is still setting the new program up.
struct ProcessImage {
  uint64_t argStart = 0;
  uint64_t argEnd = 0;
  uint64_t envStart = 0;
  uint64_t envEnd = 0;
  bool operator==(const ProcessImage& other) const = default;
};
// errSecCSNoSuchCode when the process is gone; errSecCSGuestInvalid when it cannot be read.
SecStatus readProcessImage(pid_t pid, ProcessImage& image);

// The hardened-runtime stand-in: errSecCSGuestInvalid when the process is traced (TracerPid
// is not 0), is in the middle of an exec, or its environment holds LD_PRELOAD, LD_AUDIT or
// LD_LIBRARY_PATH (or is too large to inspect); errSecCSNoSuchCode when its /proc entry is
// gone. `image` receives the program image that was inspected. The caller checks afterwards
// that the process is still the one it means (pidfd), since a pid may be reused.
SecStatus checkProcessHardening(pid_t pid, ProcessImage* image = nullptr);
// Only the tracing half of the check above.
SecStatus checkNotTraced(pid_t pid);

// The /proc files of one process, opened once for repeated cheap checks. The descriptors stay
// tied to that process: once it is gone every read fails with errSecCSNoSuchCode, even if its
// pid has been given to another process. Open it, then confirm with the pidfd that the process
// is still alive, so that it is known to be the right one.
class ProcessFiles {
public:
  static SecStatus open(pid_t pid, ProcessFiles& files);

  SecStatus readImage(ProcessImage& image) const;
  // errSecCSGuestInvalid when the process is traced.
  SecStatus checkNotTraced() const;
  // Device and inode of the executable the process runs.
  SecStatus executable(uint64_t& device, uint64_t& inode) const;

private:
  pid_t pid_ = 0;
  UniqueFd directory_;
  UniqueFd stat_;
  UniqueFd status_;
};

} // namespace platform::security
