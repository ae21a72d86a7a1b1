#include "tasks/files/KLVPathsProvider.h"

#include <cerrno>
#include <mutex>
#include <pwd.h>
#include <vector>

namespace tasks {
namespace {

constexpr const char* kDefaultTemporaryDirectory = "/tmp";
constexpr const char* kNoHomeDirectory = "/var/empty";
constexpr size_t kMaxUserNameBytes = 255;
// The password database entry of one user never needs more; the lookup stops there.
constexpr size_t kMaxPasswordEntryBytes = 1 << 20;

struct TemporaryDirectorySlot {
  std::mutex mutex;
  std::optional<std::string> directory;
};

TemporaryDirectorySlot& temporaryDirectorySlot() {
  static TemporaryDirectorySlot slot;
  return slot;
}

// Removes "." and empty components and resolves ".." lexically, as a standardized URL does.
std::string standardizedPath(const std::string& path) {
  std::vector<std::string> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) {
      end = path.size();
    }
    std::string component = path.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") {
      continue;
    }
    if (component == "..") {
      if (!components.empty()) {
        components.pop_back();
      }
      continue;
    }
    components.push_back(std::move(component));
  }
  std::string standardized;
  for (const auto& component : components) {
    standardized += "/" + component;
  }
  return standardized.empty() ? "/" : standardized;
}

std::optional<std::string> homeDirectoryOfUser(const std::string& userName) {
  std::vector<char> buffer(16384);
  while (true) {
    passwd entry{};
    passwd* found = nullptr;
    const int status = getpwnam_r(userName.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (status == ERANGE && buffer.size() < kMaxPasswordEntryBytes) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0 || found == nullptr || found->pw_dir == nullptr) {
      return std::nullopt;
    }
    return std::string(found->pw_dir);
  }
}

} // namespace

std::shared_ptr<KLVPathsProvider> KLVPathsProvider::defaultProvider() {
  return std::make_shared<KLVPathsProvider>(std::nullopt, processTemporaryDirectory());
}

std::shared_ptr<KLVPathsProvider>
KLVPathsProvider::providerWithUserName(std::string_view userName) {
  if (!isAcceptableUserName(userName)) {
    return nullptr;
  }
  auto home = homeDirectoryOfUser(std::string(userName));
  if (!home || home->empty() || standardizedPath(*home) == kNoHomeDirectory) {
    return nullptr;
  }
  return std::make_shared<KLVPathsProvider>(standardizedPath(*home), processTemporaryDirectory());
}

bool KLVPathsProvider::isAcceptableUserName(std::string_view userName) {
  if (userName.empty() || userName.size() > kMaxUserNameBytes || userName.front() == '-') {
    return false;
  }
  for (unsigned char character : userName) {
    if (character == '/' || character < 0x20 || character == 0x7f) {
      return false;
    }
  }
  return true;
}

std::string KLVPathsProvider::processTemporaryDirectory() {
  std::lock_guard lock(temporaryDirectorySlot().mutex);
  return standardizedPath(temporaryDirectorySlot().directory.value_or(kDefaultTemporaryDirectory));
}

void KLVPathsProvider::setProcessTemporaryDirectoryForTest(std::optional<std::string> directory) {
  std::lock_guard lock(temporaryDirectorySlot().mutex);
  temporaryDirectorySlot().directory = std::move(directory);
}

std::optional<platform::URL> KLVPathsProvider::userLibraryDirectoryURL() const {
  if (!homeDirectory_) {
    return std::nullopt;
  }
  return platform::URL::fileURLWithPath(standardizedPath(*homeDirectory_ + "/Library"));
}

platform::URL KLVPathsProvider::temporaryDirectoryURL() const {
  return platform::URL::fileURLWithPath(temporaryDirectory_);
}

} // namespace tasks
