#pragma once

#include "lipo/LRArchitecture.h"

#include <string>

namespace lipo {

// A single-architecture binary of a known architecture.
class LRNonFatBinaryFile {
public:
  LRNonFatBinaryFile(std::string path, LRArchitecture architecture)
      : path_(std::move(path)), architecture_(std::move(architecture)) {}

  const std::string& path() const { return path_; }
  const LRArchitecture& architecture() const { return architecture_; }

private:
  std::string path_;
  LRArchitecture architecture_;
};

} // namespace lipo
