#pragma once

#include "platform/security/FileDigest.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <tuple>

namespace platform::security {

// What identifies one version of a file's bytes: a rewrite in place changes size, mtime or
// ctime; a replacement changes the inode. ctime cannot be set by any user.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtimeSeconds = 0;
  int64_t mtimeNanoseconds = 0;
  int64_t ctimeSeconds = 0;
  int64_t ctimeNanoseconds = 0;

  static FileStamp of(const struct stat& status);
  auto key() const {
    return std::tie(device, inode, size, mtimeSeconds, mtimeNanoseconds, ctimeSeconds,
                    ctimeNanoseconds);
  }
  bool operator==(const FileStamp& other) const { return key() == other.key(); }
  bool operator<(const FileStamp& other) const { return key() < other.key(); }
};

// Remembers the SHA-256 of files already hashed, keyed by their FileStamp and the hashed
// length, so that a client executable is hashed once and not on every connection. An entry is
// only stored for a file whose ctime lies well before the hashing began: timestamps come from a
// coarse clock, so a write in the same tick as the hash would otherwise leave the stamp
// unchanged. Thread-safe; bounded.
class DigestCache {
public:
  static DigestCache& shared();

  std::optional<Sha256Digest> lookup(const FileStamp& stamp, uint64_t length) const;
  // Stores the digest when `stamp` (taken before and again after hashing) is old enough
  // compared with `hashStartedAt` (CLOCK_REALTIME).
  void store(const FileStamp& stamp, uint64_t length, const Sha256Digest& digest,
             const struct timespec& hashStartedAt);
  void clear();
  size_t count() const;

private:
  static constexpr size_t kCapacity = 256;
  static constexpr int64_t kSettleSeconds = 2;

  mutable std::mutex lock_;
  std::map<std::pair<FileStamp, uint64_t>, Sha256Digest> entries_;
};

} // namespace platform::security
