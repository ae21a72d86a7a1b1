#pragma once

#include "lipo/LRThinFile.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lipo {

// Which file on disk something was read from.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity&) const = default;
};

// A universal file: its path, its format and its slices in file order.
class LRFatBinaryFile {
public:
  LRFatBinaryFile(std::string path, bool fat64Flag, std::vector<LRThinFile> thinFiles,
                  std::optional<FileIdentity> sourceIdentity = std::nullopt)
      : path_(std::move(path)), fat64Flag_(fat64Flag), thinFiles_(std::move(thinFiles)),
        sourceIdentity_(sourceIdentity) {}

  const std::string& path() const { return path_; }
  // True when the file uses the 64-bit fat format.
  bool fat64Flag() const { return fat64Flag_; }
  const std::vector<LRThinFile>& thinFiles() const { return thinFiles_; }
  // The file the reader found at `path`, when it was read from one. The writer then refuses to
  // replace a different file that took the path meanwhile, so that the contents of one file
  // never end up with another file's owner and permissions.
  const std::optional<FileIdentity>& sourceIdentity() const { return sourceIdentity_; }

private:
  std::string path_;
  bool fat64Flag_;
  std::vector<LRThinFile> thinFiles_;
  std::optional<FileIdentity> sourceIdentity_;
};

} // namespace lipo
