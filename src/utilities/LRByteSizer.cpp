#include "utilities/LRByteSizer.h"

#include "utilities/Log.h"
#include "utilities/PathComponents.h"
#include "utilities/TreeWalk.h"

#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

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

// Sums allocated blocks the way a physical walk does: every item that is not a directory adds
// its blocks to its folder's total when visited; a folder adds its own blocks to its total
// when it is left, and that total to its parent's. Items without status, unreadable folders
// and cycles add nothing.
class SizingVisitor : public TreeVisitor {
public:
  int64_t total() const { return total_; }

  WalkControl visitFile(int parentFd, const char* name) override {
    struct stat info;
    if (::fstatat(parentFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
      add(blockCount(info, false));
    }
    return WalkControl::proceed;
  }
  WalkControl enterDirectory(int, const char*, int directoryFd) override {
    Folder folder;
    folder.hasStatus = ::fstat(directoryFd, &folder.info) == 0;
    folders_.push_back(folder);
    return WalkControl::proceed;
  }
  WalkControl leaveDirectory(int, const char*) override {
    Folder folder = folders_.back();
    folders_.pop_back();
    if (folder.hasStatus) {
      add(folder.blocks + blockCount(folder.info, true));
    }
    return WalkControl::proceed;
  }
  WalkControl failure(int, const char*, int) override { return WalkControl::proceed; }

private:
  struct Folder {
    struct stat info;
    bool hasStatus = false;
    int64_t blocks = 0;
  };

  void add(int64_t blocks) {
    if (folders_.empty()) {
      total_ = blocks;
    } else {
      folders_.back().blocks += blocks;
    }
  }

  std::vector<Folder> folders_;
  int64_t total_ = 0;
};

} // namespace

uint64_t LRByteSizer::byteSizeAtPath(const std::string& path) {
  if (!hasFileSystemRepresentation(path)) {
    return 0;
  }
  try {
    SizingVisitor visitor;
    walkTree(path, visitor);
    return bytesOfBlocks(visitor.total());
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
