#include "utilities/LRByteSizer.h"

#include "utilities/Log.h"
#include "utilities/PathComponents.h"

#include <exception>
#include <sys/stat.h>

namespace utilities {
namespace {

constexpr int64_t kBlockSize = 512;
// Beyond this length the block count is derived from the length instead of the allocation.
constexpr int64_t kLargestBlockCountedLength = 0x1ffffffffffLL;

int64_t blockCount(const struct stat& info, bool roundUp) {
  if (info.st_size > kLargestBlockCountedLength) {
    return roundUp ? (info.st_size + kBlockSize - 1) / kBlockSize : info.st_size / kBlockSize;
  }
  return static_cast<int64_t>(info.st_blocks);
}

bool hasNoSize(const FTSENT* entry) {
  switch (entry->fts_info) {
  case FTS_DNR:
  case FTS_DC:
  case FTS_ERR:
  case FTS_NS:
  case FTS_NSOK:
    return true;
  default:
    return entry->fts_statp == nullptr;
  }
}

uint64_t bytesOfBlocks(int64_t blocks) {
  return blocks <= 0 ? 0 : static_cast<uint64_t>(blocks) * kBlockSize;
}

} // namespace

uint64_t LRByteSizer::byteSizeAtPath(const std::string& path) {
  if (!hasFileSystemRepresentation(path)) {
    return 0;
  }
  try {
    char* roots[] = {const_cast<char*>(path.c_str()), nullptr};
    FTS* walk = ::fts_open(roots, FTS_PHYSICAL | FTS_NOCHDIR, nullptr);
    if (walk == nullptr) {
      return 0;
    }
    // Each folder's running total lives in its entry's fts_number until the folder is left.
    int64_t total = 0;
    while (FTSENT* entry = ::fts_read(walk)) {
      if (hasNoSize(entry)) {
        continue;
      }
      switch (entry->fts_info) {
      case FTS_D:
        entry->fts_number = 0;
        break;
      case FTS_DP:
        entry->fts_number += blockCount(*entry->fts_statp, true);
        if (entry->fts_level == FTS_ROOTLEVEL) {
          total = entry->fts_number;
        } else {
          entry->fts_parent->fts_number += entry->fts_number;
        }
        break;
      default:
        if (entry->fts_level == FTS_ROOTLEVEL) {
          total = blockCount(*entry->fts_statp, false);
        } else {
          entry->fts_parent->fts_number += blockCount(*entry->fts_statp, false);
        }
        break;
      }
    }
    if (::fts_close(walk) != 0) {
      log("fts_close exception = %@", {"the walk could not be closed"});
    }
    return bytesOfBlocks(total);
  } catch (const std::exception& exception) {
    log("fts_close exception = %@", {exception.what()});
    return 0;
  }
}

uint64_t LRByteSizer::byteSizeAtURL(const platform::URL& url) {
  return byteSizeAtPath(url.path());
}

uint64_t LRByteSizer::logicalByteSizeAtPath(const std::string& path) {
  struct stat info;
  if (!hasFileSystemRepresentation(path) || ::stat(path.c_str(), &info) != 0 || info.st_size < 0) {
    return 0;
  }
  return static_cast<uint64_t>(info.st_size);
}

uint64_t LRByteSizer::logicalByteSizeAtURL(const platform::URL& url) {
  return logicalByteSizeAtPath(url.path());
}

uint64_t LRByteSizer::itemSizeWithFTSEntry(const FTSENT* entry) {
  if (entry == nullptr || hasNoSize(entry) || entry->fts_statp->st_nlink >= 2) {
    return 0;
  }
  return bytesOfBlocks(blockCount(*entry->fts_statp, entry->fts_info == FTS_DP));
}

} // namespace utilities
