#pragma once

#include "platform/posix/UniqueFd.h"

#include <dirent.h>
#include <optional>
#include <string>
#include <string_view>

namespace platform::posix {

// Reads the entries of one open directory, skipping "." and "..", and closes it when
// destroyed. Move-only, so the directory stream is closed exactly once.
class DirectoryReader {
public:
  // Opens the directory at `path` as opendir does (read-only, close-on-exec, not blocking),
  // adding `extraFlags` (for example O_NOFOLLOW). None, with errno set, when it cannot be opened.
  static std::optional<DirectoryReader> open(const std::string& path, int extraFlags = 0);
  // Takes over `directory`, an open directory descriptor. None, with errno set and the
  // descriptor closed, when no directory stream can be made of it.
  static std::optional<DirectoryReader> adopt(UniqueFd directory);

  DirectoryReader(DirectoryReader&& other) noexcept;
  DirectoryReader& operator=(DirectoryReader&& other) noexcept;
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;
  ~DirectoryReader();

  // The next entry's name (NUL-terminated), valid until the next call; none at the end or when a
  // read fails, which error() then tells apart.
  std::optional<std::string_view> next();
  // The errno value of the read that failed, 0 after the end was reached.
  int error() const { return error_; }
  // The directory's descriptor, for the *at calls on its entries.
  int fd() const;
  // Closes the directory now; 0 or the errno value of closedir.
  int close();

private:
  explicit DirectoryReader(DIR* stream) : stream_(stream) {}

  DIR* stream_ = nullptr;
  int error_ = 0;
};

} // namespace platform::posix
