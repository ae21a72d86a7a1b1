#include "platform/security/DigestCache.h"

namespace platform::security {

FileStamp FileStamp::of(const struct stat& status) {
  FileStamp stamp;
  stamp.device = status.st_dev;
  stamp.inode = status.st_ino;
  stamp.size = static_cast<uint64_t>(status.st_size);
  stamp.mtimeSeconds = status.st_mtim.tv_sec;
  stamp.mtimeNanoseconds = status.st_mtim.tv_nsec;
  stamp.ctimeSeconds = status.st_ctim.tv_sec;
  stamp.ctimeNanoseconds = status.st_ctim.tv_nsec;
  return stamp;
}

DigestCache& DigestCache::shared() {
  static DigestCache cache;
  return cache;
}

std::optional<Sha256Digest> DigestCache::lookup(const FileStamp& stamp, uint64_t length) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = entries_.find({stamp, length});
  if (found == entries_.end()) {
    return std::nullopt;
  }
  return found->second;
}

void DigestCache::store(const FileStamp& stamp, uint64_t length, const Sha256Digest& digest,
                        const struct timespec& hashStartedAt) {
  // A file changed within the last ticks before hashing could change again without its
  // stamp moving; such a file is simply hashed again next time.
  if (stamp.ctimeSeconds + kSettleSeconds > hashStartedAt.tv_sec ||
      stamp.mtimeSeconds + kSettleSeconds > hashStartedAt.tv_sec) {
    return;
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (entries_.size() >= kCapacity) {
    entries_.clear();
  }
  entries_[{stamp, length}] = digest;
}

void DigestCache::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.clear();
}

size_t DigestCache::count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

} // namespace platform::security
