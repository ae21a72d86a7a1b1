#pragma once

#include "lipo/FileDescriptor.h"

#include <optional>
#include <string>

namespace lipo {

// A file created beside its target inside one directory, removed again unless it was moved
// over the target. Created exclusively, without following links and readable by its owner
// only, so that nothing planted at its name is written through and nobody reads a half
// written file.
class TemporaryFile {
public:
  // Creates a file named `prefix` and a random suffix that no entry has yet. Nothing that
  // exists is ever removed or written through. None, with errno set, when no name could be
  // created.
  static std::optional<TemporaryFile> create(int directoryFd, const std::string& prefix);

  TemporaryFile(TemporaryFile&&) noexcept = default;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  ~TemporaryFile();

  int fd() const { return fd_.get(); }
  const std::string& name() const { return name_; }

  // Renames the file over `targetName` in the same directory in one step, after checking that
  // its name still refers to it. Returns 0 or an errno value; on failure the file stays
  // temporary and is removed by the destructor.
  int replace(const std::string& targetName);

private:
  TemporaryFile(FileDescriptor directory, FileDescriptor fd, std::string name)
      : directory_(std::move(directory)), fd_(std::move(fd)), name_(std::move(name)) {}
  bool nameRefersToFile() const;

  FileDescriptor directory_;
  FileDescriptor fd_;
  std::string name_;
  bool placed_ = false;
};

} // namespace lipo
