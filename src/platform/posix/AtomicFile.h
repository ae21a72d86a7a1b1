#pragma once

#include "platform/posix/UniqueFd.h"

#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform::posix {

// A new file written beside its target and then renamed over it in one step, so that a reader
// sees the old contents or the new ones, never a part. Created exclusively, without following
// links, so nothing planted at its name is written through; removed again unless it was moved
// over the target, and then only while its name still refers to it.
class AtomicFile {
public:
  // What commit() flushes to the disk before and after the rename.
  enum class Durability {
    none,             // leaves it to the kernel
    file,             // the file's bytes before the rename
    fileAndDirectory, // the bytes, and the rename itself
  };

  // One step of keepOwnerAndMode() that failed, with its errno value.
  struct OwnershipFailure {
    enum class Step { examine, owner, mode } step;
    int error;
  };

  // Creates a file named `prefix` and six random characters that no entry of the directory
  // has yet, with `mode` (less the umask). None, with errno set, when no name could be created.
  static std::optional<AtomicFile> create(int directoryFd, const std::string& prefix,
                                          mode_t mode = 0600);
  // The same in the directory at `directoryPath`.
  static std::optional<AtomicFile> create(const std::string& directoryPath,
                                          const std::string& prefix, mode_t mode = 0600);

  AtomicFile(AtomicFile&&) noexcept = default;
  AtomicFile& operator=(AtomicFile&&) = delete;
  ~AtomicFile();

  int fd() const { return fd_.get(); }
  // The temporary name, inside the directory.
  const std::string& name() const { return name_; }

  // Gives the file `owner` and `group` (unless it has them already), then `mode` (whatever the
  // umask): changing the owner clears the set-id bits, which the mode then restores. With
  // `ownerMayFail`, an owner change refused with EPERM is passed over. None, or the failure.
  std::optional<OwnershipFailure> keepOwnerAndMode(uid_t owner, gid_t group, mode_t mode,
                                                   bool ownerMayFail = false);
  std::optional<OwnershipFailure> keepOwnerAndMode(const struct stat& original,
                                                   bool ownerMayFail = false) {
    return keepOwnerAndMode(original.st_uid, original.st_gid, original.st_mode & 07777,
                            ownerMayFail);
  }

  // Renames the file over `targetName` in the same directory, after checking that its name
  // still refers to it (ESTALE otherwise), flushing as `durability` says. 0 or an errno value
  // (also left in errno); on failure the file stays temporary and the destructor removes it.
  int commit(const std::string& targetName, Durability durability = Durability::none);

private:
  AtomicFile(UniqueFd directory, UniqueFd fd, std::string name)
      : directory_(std::move(directory)), fd_(std::move(fd)), name_(std::move(name)) {}
  bool nameRefersToFile() const;

  UniqueFd directory_;
  UniqueFd fd_;
  std::string name_;
  bool placed_ = false;
};

} // namespace platform::posix
