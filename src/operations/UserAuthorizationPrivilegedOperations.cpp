#include "operations/UserAuthorizationPrivilegedOperations.h"

#include "platform/foundation/PropertyList.h"
#include "platform/loader/MainBundle.h"
#include "platform/posix/AtomicFile.h"
#include "platform/posix/ReadWrite.h"
#include "platform/posix/RetryOnInterrupt.h"
#include "utilities/FileManager.h"
#include "utilities/Log.h"
#include "utilities/PathComponents.h"
#include "utilities/SafeLabel.h"
#include "utilities/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace operations {
namespace {

// Every addition of the process goes through this lock: the read, the change and the
// replacement of the file are one step, so concurrent additions cannot overwrite each other.
std::mutex& allowedListMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::string> bundleIdentifier() {
  const platform::PropertyList* info = platform::loader::mainBundleInfoDictionary();
  if (info == nullptr) {
    return std::nullopt;
  }
  return info->root()["CFBundleIdentifier"].stringValue();
}

// The file's bytes; none when it is missing, not a regular file, a symbolic link, too long
// or unreadable.
std::optional<std::string> readListFile(const std::string& path) {
  utilities::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<uint64_t>(status.st_size) >
          UserAuthorizationPrivilegedOperations::kMaxAllowedListBytes) {
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  while (true) {
    const ssize_t got =
        platform::posix::retryOnInterrupt([&] { return ::read(fd.get(), buffer, sizeof buffer); });
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      return bytes;
    }
    bytes.append(buffer, static_cast<size_t>(got));
    if (bytes.size() > UserAuthorizationPrivilegedOperations::kMaxAllowedListBytes) {
      return std::nullopt;
    }
  }
}

bool replaceListFile(const std::string& folder, std::string_view bytes) {
  const std::string name = UserAuthorizationPrivilegedOperations::kAllowedListFileName;
  const std::string path = utilities::appendingPathComponent(folder, name);
  // The list keeps whatever owner and mode it was given; a new one is root's, mode 0644.
  struct stat existing {};
  const bool replacing = ::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  const uid_t owner = replacing ? existing.st_uid : 0;
  const gid_t group = replacing ? existing.st_gid : 0;
  const mode_t mode = replacing ? existing.st_mode & 07777 : 0644;
  // A reader sees the old list or the new one, never a part of it; the rename itself is made
  // durable too.
  auto temporary = platform::posix::AtomicFile::create(folder, "." + name + ".", 0644);
  return temporary && !temporary->keepOwnerAndMode(owner, group, mode) &&
         platform::posix::writeAll(temporary->fd(), bytes) == 0 &&
         temporary->commit(name, platform::posix::AtomicFile::Durability::fileAndDirectory) == 0;
}

} // namespace

bool UserAuthorizationPrivilegedOperations::addUserToAllowedList(uint32_t uid) const {
  try {
    const auto identifier = bundleIdentifier();
    // The identifier becomes a folder name; anything but one plain name would point elsewhere.
    if (!identifier || !utilities::isSafeLabel(*identifier)) {
      return false;
    }
    const std::string folder =
        utilities::appendingPathComponent(root_ + kApplicationSupportPath, *identifier);
    if (!utilities::FileManager::defaultManager().createDirectoryAtPath(folder, true, nullptr)) {
      return false;
    }
    const std::string path = utilities::appendingPathComponent(folder, kAllowedListFileName);

    std::lock_guard lock(allowedListMutex());
    std::vector<uint32_t> uids;
    if (auto bytes = readListFile(path)) {
      size_t dropped = 0;
      uids = decodeAllowedList(*bytes, &dropped).value_or(std::vector<uint32_t>{});
      if (dropped > 0) {
        utilities::log("Dropping %@ entries of %@ that are no user identifiers",
                       {std::to_string(dropped), path});
      }
    }
    if (std::find(uids.begin(), uids.end(), uid) != uids.end()) {
      return true;
    }
    uids.push_back(uid);
    return replaceListFile(folder, encodeAllowedList(uids));
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<std::vector<uint32_t>>
UserAuthorizationPrivilegedOperations::decodeAllowedList(std::string_view bytes, size_t* dropped) {
  auto list = platform::PropertyList::parse(bytes);
  if (!list || list->root().type() != platform::PlistRef::Type::array) {
    return std::nullopt;
  }
  const platform::PlistRef root = list->root();
  std::vector<uint32_t> uids;
  uids.reserve(root.arraySize());
  size_t skipped = 0;
  for (size_t index = 0; index < root.arraySize(); ++index) {
    const platform::PlistRef item = root.arrayItem(index);
    const auto value =
        item.type() == platform::PlistRef::Type::integer ? item.unsignedValue() : std::nullopt;
    if (!value || *value > std::numeric_limits<uint32_t>::max()) {
      ++skipped;
      continue;
    }
    uids.push_back(static_cast<uint32_t>(*value));
  }
  if (dropped != nullptr) {
    *dropped = skipped;
  }
  return uids;
}

std::string
UserAuthorizationPrivilegedOperations::encodeAllowedList(const std::vector<uint32_t>& uids) {
  platform::PropertyList list = platform::PropertyList::array();
  for (uint32_t uid : uids) {
    list.appendUnsigned(uid);
  }
  return list.toBinary();
}

} // namespace operations
