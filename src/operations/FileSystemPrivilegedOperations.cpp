#include "operations/FileSystemPrivilegedOperations.h"

#include "operations/ProcessTermination.h"
#include "platform/loader/MainBundle.h"
#include "utilities/FileManagerAdditions.h"
#include "utilities/LRByteSizer.h"
#include "utilities/PathComponents.h"
#include "utilities/SafeLabel.h"

#include <cerrno>
#include <sys/stat.h>

namespace operations {

AgentInstallation AgentInstallation::installed() {
  AgentInstallation installation;
  installation.bundleIdentifier = mainBundleIdentifier();
  installation.terminate = scheduleTermination;
  return installation;
}

std::optional<std::string> AgentInstallation::usableBundleIdentifier() const {
  if (!bundleIdentifier || !utilities::isSafeLabel(*bundleIdentifier)) {
    return std::nullopt;
  }
  return bundleIdentifier;
}

std::string AgentInstallation::executablePath(const std::string& identifier) const {
  return utilities::appendingPathComponent(privilegedHelperToolsPath, identifier);
}

std::string AgentInstallation::jobFilePath(const std::string& identifier) const {
  return utilities::appendingPathComponent(launchDaemonsPath, identifier + ".plist");
}

std::optional<std::string> mainBundleIdentifier() {
  const platform::PropertyList* info = platform::loader::mainBundleInfoDictionary();
  if (info == nullptr || info->isNull() ||
      info->root().type() != platform::PlistRef::Type::dictionary) {
    return std::nullopt;
  }
  platform::PlistRef value = info->root()[AgentInstallation::kBundleIdentifierKey];
  if (value.isNull() || value.type() != platform::PlistRef::Type::string) {
    return std::nullopt;
  }
  auto identifier = value.stringValue();
  if (!identifier || identifier->empty()) {
    return std::nullopt;
  }
  return identifier;
}

void removeAgentExecutableAndJobFile(const utilities::FileManager& fileManager,
                                     const AgentInstallation& installation,
                                     const std::string& identifier) {
  for (const std::string& path :
       {installation.executablePath(identifier), installation.jobFilePath(identifier)}) {
    platform::NSError error;
    if (!fileManager.removeItemAtPath(path, &error)) {
      throwFileManagerError(std::move(error), path);
    }
  }
}

bool isUsableRequestPath(std::string_view path) {
  return !path.empty() && path.front() == '/' && utilities::hasFileSystemRepresentation(path);
}

std::optional<std::string> requestPath(const platform::URL& url) {
  // Already absolute and free of NUL bytes: fileSystemPath refuses anything else.
  return url.fileSystemPath();
}

bool namesRootFolder(std::string_view path) {
  size_t depth = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    std::string_view component = path.substr(start, end - start);
    if (component == "..") {
      depth = depth > 0 ? depth - 1 : 0;
    } else if (!component.empty() && component != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return depth == 0;
}

bool isFolderItself(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

platform::NSError rootFolderRemovalError(const std::string& path) {
  return platform::NSError::fileManagerError(EPERM, path, true);
}

platform::NSError unusablePathError(const std::string& path) {
  return platform::NSError::cocoaFile(platform::NSFileWriteInvalidFileNameError, path);
}

platform::NSError unusablePathError(const platform::URL& url) {
  return unusablePathError(url.absoluteString());
}

void throwFileManagerError(platform::NSError error, const std::string& path) {
  if (error.domain().empty()) {
    error = platform::NSError::cocoaFile(platform::NSFileWriteUnknownError, path);
  }
  throw platform::NSErrorException(std::move(error));
}

FileSystemPrivilegedOperations::FileSystemPrivilegedOperations()
    : FileSystemPrivilegedOperations(AgentInstallation::installed()) {}

FileSystemPrivilegedOperations::FileSystemPrivilegedOperations(AgentInstallation installation)
    : fileManager_(utilities::FileManager::defaultManager()),
      installation_(std::move(installation)) {}

bool FileSystemPrivilegedOperations::fileExists(const platform::URL& url) const {
  const auto path = requestPath(url);
  return path && fileManager_.fileExistsAtPath(*path);
}

uint64_t FileSystemPrivilegedOperations::fileSize(const platform::URL& url) const {
  const auto path = requestPath(url);
  return path ? utilities::LRByteSizer::byteSizeAtPath(*path) : 0;
}

bool FileSystemPrivilegedOperations::removeFile(const platform::URL& url) const {
  const auto path = requestPath(url);
  if (!path) {
    // The removal would report such a path as missing, that is as removed, although the
    // client's item was never looked at.
    throw platform::NSErrorException(unusablePathError(url));
  }
  if (namesRootFolder(*path)) {
    throw platform::NSErrorException(rootFolderRemovalError(*path));
  }
  platform::NSError error;
  if (!utilities::removeFileAndHandleLockAtPath(*path, &error)) {
    throwFileManagerError(std::move(error), *path);
  }
  return true;
}

bool FileSystemPrivilegedOperations::truncateFile(const platform::URL& url) const {
  const auto path = requestPath(url);
  return path && utilities::truncateFileAtPath(*path);
}

bool FileSystemPrivilegedOperations::moveFile(const std::string& source,
                                              const std::string& destination) const {
  for (const std::string* path : {&source, &destination}) {
    if (!isUsableRequestPath(*path)) {
      throw platform::NSErrorException(unusablePathError(*path));
    }
  }
  platform::NSError error;
  if (!fileManager_.moveItemAtPath(source, destination, &error)) {
    throwFileManagerError(std::move(error), source);
  }
  return true;
}

void FileSystemPrivilegedOperations::removePrivilegedAgent() const {
  auto identifier = installation_.usableBundleIdentifier();
  if (!identifier) {
    throw FileSystemPrivilegedOperationsError::emptyBundleIdentifier();
  }
  // When the executable is already gone the request fails here, the job file stays and the
  // agent keeps running.
  removeAgentExecutableAndJobFile(fileManager_, installation_, *identifier);
  // Launchd keeps the job loaded; the process simply ends once the reply is on its way.
  if (installation_.terminate) {
    installation_.terminate();
  }
}

} // namespace operations
