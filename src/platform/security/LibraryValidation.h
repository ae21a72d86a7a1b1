#pragma once

#include "platform/security/MemoryMaps.h"
#include "platform/security/SecStatus.h"

#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace platform::security {

// The device and inode of a file.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Library validation: every executable mapping of a process must be its signed executable
// itself or a regular file that only root can have written (owned by root, not writable by
// group or others) and that lies, under the name the kernel gives it, in directories with the
// same property all the way up to "/". Executable memory that no file backs (other than the
// kernel's own [vdso], [vsyscall] and [uprobes]), memfd mappings and deleted files are refused.
//
// The file behind each mapping is opened through /proc/PID/map_files (the open directory
// `processDirectory` of /proc/PID), never by the name that /proc/PID/maps prints, since a name
// may hold any bytes. That needs CAP_SYS_ADMIN (or CAP_CHECKPOINT_RESTORE); without it every
// process is refused. errSecCSGuestInvalid with the reason; errSecCSNoSuchCode when the process
// is gone.
SecStatus validateExecutableMappings(pid_t pid, int processDirectory,
                                     const std::vector<MemoryMapping>& mappings,
                                     const FileIdentity& signedExecutable);

} // namespace platform::security
