#include "lipo/LRApplicationLaunchServices.h"

#include "lipo/FileDescriptor.h"
#include "lipo/Sandbox.h"
#include "platform/foundation/PropertyList.h"
#include "platform/posix/RetryOnInterrupt.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace lipo {
namespace {

constexpr const char* kPreferencesPath =
    "~/Library/Preferences/com.apple.LaunchServices/com.apple.LaunchServices.plist";
constexpr const char* kArm64Key = "Architectures for arm64";
constexpr const char* kX86_64Key = "Architectures for x86_64";
// A preferences file is a few kilobytes; anything far larger is not one.
constexpr off_t kMaxPreferencesSize = off_t(16) << 20;

std::optional<std::string> readSmallFile(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size > kMaxPreferencesSize) {
    return std::nullopt;
  }
  std::string bytes(size_t(status.st_size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = platform::posix::retryOnInterrupt(
        [&] { return ::read(fd.get(), bytes.data() + done, bytes.size() - done); });
    if (count <= 0) {
      break;
    }
    done += size_t(count);
  }
  bytes.resize(done);
  return bytes;
}

std::vector<std::string> nonEmptyKeys(const platform::PlistRef& dictionary) {
  if (dictionary.type() != platform::PlistRef::Type::dictionary) {
    return {};
  }
  std::vector<std::string> keys = dictionary.dictionaryKeys();
  std::erase_if(keys, [](const std::string& key) { return key.empty(); });
  return keys;
}

bool equalIgnoringCase(const std::string& left, const std::string& right) {
  return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

} // namespace

LRApplicationLaunchServices::LRApplicationLaunchServices()
    : LRApplicationLaunchServices(lipo_stringByExpandingTildeInPath(kPreferencesPath)) {}

LRApplicationLaunchServices::LRApplicationLaunchServices(const std::string& path) {
  std::optional<std::string> bytes = readSmallFile(path);
  if (!bytes) {
    return;
  }
  std::optional<platform::PropertyList> list = platform::PropertyList::parse(*bytes);
  if (!list || list->root().type() != platform::PlistRef::Type::dictionary) {
    return;
  }
  bundleIdentifiersForArm64_ = nonEmptyKeys(list->root()[kArm64Key]);
  bundleIdentifiersForx86_64_ = nonEmptyKeys(list->root()[kX86_64Key]);
}

LRApplicationLaunchServices::LRApplicationLaunchServices(
    std::vector<std::string> bundleIdentifiersForArm64,
    std::vector<std::string> bundleIdentifiersForx86_64)
    : bundleIdentifiersForArm64_(std::move(bundleIdentifiersForArm64)),
      bundleIdentifiersForx86_64_(std::move(bundleIdentifiersForx86_64)) {}

bool LRApplicationLaunchServices::architectureWasChangedForBundleIdentifier(
    const std::string& bundleIdentifier) const {
  auto matches = [&](const std::string& entry) {
    return equalIgnoringCase(entry, bundleIdentifier);
  };
  return std::any_of(bundleIdentifiersForArm64_.begin(), bundleIdentifiersForArm64_.end(),
                     matches) ||
         std::any_of(bundleIdentifiersForx86_64_.begin(), bundleIdentifiersForx86_64_.end(),
                     matches);
}

} // namespace lipo
