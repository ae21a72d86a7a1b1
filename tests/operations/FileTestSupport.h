#pragma once

// File helpers of the operation tests that work on real files: text in and out, and the
// immutable flag that makes a removal or an edit fail.

#include "lipo/LipoTestSupport.h"
#include "utilities/FileFlags.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/UniqueFd.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace operations::test {

inline void writeText(const std::string& path, const std::string& text, mode_t mode = 0644) {
  lipo::test::writeFile(path, platform::Bytes(text.begin(), text.end()), mode);
}

// The file's text; empty when it does not exist.
inline std::string readText(const std::string& path) {
  if (!lipo::test::exists(path)) {
    return "";
  }
  auto bytes = lipo::test::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

inline bool setImmutable(const std::string& path) {
  utilities::UniqueFd fd(utilities::openForFlags(AT_FDCWD, path.c_str(), false));
  auto flags = fd ? utilities::fileFlags(fd.get()) : std::nullopt;
  return flags && utilities::setFileFlags(fd.get(), *flags | utilities::SF_IMMUTABLE);
}

} // namespace operations::test
