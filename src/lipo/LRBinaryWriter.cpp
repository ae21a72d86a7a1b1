#include "lipo/LRBinaryWriter.h"

#include "lipo/FatLayout.h"
#include "lipo/LipoErrors.h"
#include "platform/posix/AtomicFile.h"
#include "platform/posix/ReadWrite.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lipo {
namespace {

using platform::NSError;

// Rewrites of one file at once would each rename their copy over it, the last one winning;
// rewrites in this process take turns.
std::mutex rewriteMutex;

NSError writerError(int64_t code, std::string description,
                    std::optional<std::string> failureReason = std::nullopt) {
  return makeLipoError(BinaryWriterErrorDomain, code, std::move(description),
                       std::move(failureReason));
}

NSError ioError(const std::string& what, const std::string& path, int errnoValue) {
  return writerError(2, kFileHandleOperationExceptionName,
                     what + " " + path + ": " + std::strerror(errnoValue));
}

// The directory that holds `path` and the name of the entry in it.
struct Location {
  std::string directory;
  std::string name;
};

std::optional<Location> locate(const std::string& path) {
  const auto slash = path.rfind('/');
  Location location;
  if (slash == std::string::npos) {
    location = {".", path};
  } else {
    location = {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
  }
  if (location.name.empty() || location.name == "." || location.name == "..") {
    return std::nullopt;
  }
  return location;
}

bool rewrite(const LRFatBinaryFile& file, NSError* error) {
  // Through a symbolic link the file to thin is the one the link names; the link stays.
  char resolved[PATH_MAX];
  if (::realpath(file.path().c_str(), resolved) == nullptr) {
    setError(error, writerError(1, "Can't read stat at file: " + file.path()));
    return false;
  }
  const std::string path = resolved;

  // Every step below works inside this one directory, so a directory swapped along the path
  // meanwhile cannot redirect the temporary file or the rename.
  std::optional<Location> location = locate(path);
  FileDescriptor directory;
  if (location) {
    directory.reset(::open(location->directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  struct stat original {};
  if (!directory.valid() ||
      ::fstatat(directory.get(), location->name.c_str(), &original, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(original.st_mode)) {
    setError(error, writerError(1, "Can't read stat at file: " + path));
    return false;
  }
  if (file.sourceIdentity() &&
      *file.sourceIdentity() != FileIdentity{original.st_dev, original.st_ino}) {
    setError(error, writerError(1, "Can't read stat at file: " + path,
                                "The file was replaced after it was read"));
    return false;
  }

  std::optional<platform::posix::AtomicFile> temporary =
      platform::posix::AtomicFile::create(directory.get(), "." + location->name + ".lipo.");
  if (!temporary) {
    setError(error, writerError(1, "Can't create temporary output file: " + path));
    return false;
  }
  const std::string temporaryPath = location->directory + "/" + temporary->name();

  std::string failureReason;
  std::optional<FatLayout> layout =
      FatLayout::make(file.thinFiles(), file.fat64Flag(), &failureReason);
  if (!layout) {
    setError(error, writerError(2, kRangeExceptionName, failureReason));
    return false;
  }
  const int fd = temporary->fd();
  if (int status = platform::posix::writeAllAt(fd, layout->header.data(), layout->header.size(), 0);
      status != 0) {
    setError(error, ioError("Can't write the fat header to", temporaryPath, status));
    return false;
  }
  // Gaps between slices are left as holes; they read back as zero bytes.
  for (const FatLayout::Placement& placement : layout->placements) {
    const LRThinFile& slice = file.thinFiles()[placement.slice];
    if (int status =
            slice.source().copyTo(slice.sourceOffset(), slice.size(), fd, placement.offset);
        status != 0) {
      setError(error, ioError("Can't write a slice to", temporaryPath, status));
      return false;
    }
  }

  // The last slice may end in a hole that nothing wrote.
  if (::ftruncate(fd, off_t(layout->fileSize)) != 0) {
    setError(error, ioError("Can't size", temporaryPath, errno));
    return false;
  }
  if (auto failure = temporary->keepOwnerAndMode(original)) {
    using Step = platform::posix::AtomicFile::OwnershipFailure::Step;
    const char* action = failure->step == Step::examine ? "Can't examine"
                         : failure->step == Step::owner ? "Can't set the owner of"
                                                        : "Can't set the permissions of";
    setError(error, ioError(action, temporaryPath, failure->error));
    return false;
  }
  if (int status = temporary->commit(location->name); status != 0) {
    setError(error, NSError::fileManagerError(status, path, true));
    return false;
  }
  return true;
}

} // namespace

bool LRBinaryWriter::rewriteFatBinaryFile(const LRFatBinaryFile& file, NSError* error) const {
  try {
    std::lock_guard lock(rewriteMutex);
    return rewrite(file, error);
  } catch (...) {
    setError(error, exceptionError(BinaryWriterErrorDomain, 2, std::current_exception()));
    return false;
  }
}

} // namespace lipo
