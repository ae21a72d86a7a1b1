#include "platform/security/LibraryValidation.h"

#include "platform/foundation/LogText.h"
#include "platform/security/RootControlledPath.h"
#include "platform/security/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::security {

namespace {

// Executable mappings that the kernel itself makes and no file backs.
constexpr std::string_view kKernelMappings[] = {"[vdso]", "[vsyscall]", "[uprobes]"};

SecStatus refused(pid_t pid, const std::string& reason) {
  return SecStatus(errSecCSGuestInvalid,
                   "process " + std::to_string(pid) + " refused by library validation: " + reason);
}

class MappingValidator {
public:
  MappingValidator(pid_t pid, int processDirectory, const FileIdentity& signedExecutable)
      : pid_(pid), processDirectory_(processDirectory), signedExecutable_(signedExecutable) {}

  SecStatus validate(const MemoryMapping& mapping) {
    if (mapping.inode == 0) {
      if (std::find(std::begin(kKernelMappings), std::end(kKernelMappings), mapping.name) !=
          std::end(kKernelMappings)) {
        return SecStatus::success();
      }
      return refused(pid_,
                     "executable memory at " + mapping.mapFilesName() + " is backed by no file" +
                         (mapping.name.empty() ? "" : " (" + escapedForLog(mapping.name) + ")"));
    }
    const std::string entry = "map_files/" + mapping.mapFilesName();
    UniqueFd file(::openat(processDirectory_, entry.c_str(), O_PATH | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
      return cannotOpen(mapping);
    }
    const FileIdentity identity{static_cast<uint64_t>(status.st_dev),
                                static_cast<uint64_t>(status.st_ino)};
    if (identity == signedExecutable_ ||
        std::find(accepted_.begin(), accepted_.end(), identity) != accepted_.end()) {
      return SecStatus::success();
    }
    std::string path;
    if (!readMappedPath(entry, path)) {
      return cannotOpen(mapping);
    }
    if (SecStatus verdict = validateFile(path, status, identity); !verdict) {
      return verdict;
    }
    accepted_.push_back(identity);
    return SecStatus::success();
  }

private:
  SecStatus cannotOpen(const MemoryMapping& mapping) const {
    if (errno == EPERM || errno == EACCES) {
      return refused(pid_, "its mapped files cannot be inspected (this needs CAP_SYS_ADMIN)");
    }
    return refused(pid_, "the file mapped at " + mapping.mapFilesName() +
                             " cannot be inspected: " + std::strerror(errno));
  }

  bool readMappedPath(const std::string& entry, std::string& path) const {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlinkat(processDirectory_, entry.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
      if (length >= 0) {
        errno = ENAMETOOLONG;
      }
      return false;
    }
    path.assign(buffer, static_cast<size_t>(length));
    return true;
  }

  SecStatus validateFile(const std::string& path, const struct stat& status,
                         const FileIdentity& identity) {
    const std::string shown = escapedForLog(path);
    if (path.rfind("/memfd:", 0) == 0 && status.st_nlink == 0) {
      return refused(pid_, "it runs code from a memory file (" + shown + ")");
    }
    if (!S_ISREG(status.st_mode)) {
      return refused(pid_, "it runs code from " + shown + ", which is not a regular file");
    }
    if (status.st_nlink == 0) {
      return refused(pid_, "it runs code from a deleted file (" + shown + ")");
    }
    if (!isRootControlled(status)) {
      return refused(pid_, "it runs code from " + shown +
                               ", which someone other than root owns or may write");
    }
    const size_t slash = path.rfind('/');
    if (path.front() != '/' || slash == std::string::npos || slash + 1 == path.size()) {
      return refused(pid_, "it runs code from " + shown + ", which has no absolute path");
    }
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    int directory = -1;
    if (SecStatus verdict = openTrustedDirectory(parent, directory); !verdict) {
      return verdict;
    }
    // The name must still lead to the mapped file itself, not to a link or another file.
    struct stat named {};
    if (::fstatat(directory, path.c_str() + slash + 1, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        FileIdentity{static_cast<uint64_t>(named.st_dev), static_cast<uint64_t>(named.st_ino)} !=
            identity) {
      return refused(pid_, "it runs code from " + shown + ", whose name now leads elsewhere");
    }
    return SecStatus::success();
  }

  // Opens `path` once per check, requiring root-controlled directories up to "/".
  SecStatus openTrustedDirectory(const std::string& path, int& directory) {
    auto known = directories_.find(path);
    if (known == directories_.end()) {
      UniqueFd opened;
      std::string reason;
      if (!openDirectoryWithoutLinks(path, true, opened, reason)) {
        return refused(pid_,
                       "it runs code from a folder that is not root's: " + escapedForLog(reason));
      }
      known = directories_.emplace(path, std::move(opened)).first;
    }
    directory = known->second.get();
    return SecStatus::success();
  }

  pid_t pid_;
  int processDirectory_;
  FileIdentity signedExecutable_;
  std::vector<FileIdentity> accepted_;
  std::map<std::string, UniqueFd> directories_;
};

} // namespace

SecStatus validateExecutableMappings(pid_t pid, int processDirectory,
                                     const std::vector<MemoryMapping>& mappings,
                                     const FileIdentity& signedExecutable) {
  MappingValidator validator(pid, processDirectory, signedExecutable);
  for (const MemoryMapping& mapping : mappings) {
    if (!mapping.executable) {
      continue;
    }
    if (SecStatus verdict = validator.validate(mapping); !verdict) {
      return verdict;
    }
  }
  return SecStatus::success();
}

} // namespace platform::security
