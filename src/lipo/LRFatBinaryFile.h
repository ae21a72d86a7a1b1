#pragma once

#include "lipo/LRThinFile.h"

#include <string>
#include <vector>

namespace lipo {

// A universal file: its path, its format and its slices in file order.
class LRFatBinaryFile {
public:
  LRFatBinaryFile(std::string path, bool fat64Flag, std::vector<LRThinFile> thinFiles)
      : path_(std::move(path)), fat64Flag_(fat64Flag), thinFiles_(std::move(thinFiles)) {}

  const std::string& path() const { return path_; }
  // True when the file uses the 64-bit fat format.
  bool fat64Flag() const { return fat64Flag_; }
  const std::vector<LRThinFile>& thinFiles() const { return thinFiles_; }

private:
  std::string path_;
  bool fat64Flag_;
  std::vector<LRThinFile> thinFiles_;
};

} // namespace lipo
