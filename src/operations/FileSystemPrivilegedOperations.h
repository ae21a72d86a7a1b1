#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "utilities/FileManager.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace operations {

// The one error of the file operations that has no domain of its own: the agent's Info
// property list names no bundle identifier, so the agent cannot find its own files.
class FileSystemPrivilegedOperationsError : public platform::BridgedError {
public:
  enum class Case { emptyBundleIdentifier };

  static FileSystemPrivilegedOperationsError emptyBundleIdentifier() {
    return FileSystemPrivilegedOperationsError(Case::emptyBundleIdentifier);
  }

  Case errorCase() const { return case_; }
  bool operator==(const FileSystemPrivilegedOperationsError& other) const {
    return case_ == other.case_;
  }
  platform::NSError toNSError() const override {
    return platform::NSError::bridged("PrivilegedAgent.FileSystemPrivilegedOperationsError",
                                      static_cast<int64_t>(case_));
  }

private:
  explicit FileSystemPrivilegedOperationsError(Case errorCase) : case_(errorCase) {}
  Case case_;
};

// Where the agent is installed and how it ends: the folders of its executable and of its job
// file, its bundle identifier (their file names) and the step that ends the process. The
// defaults are the installed agent's; tests give their own folders and a termination that
// does not end the test process.
struct AgentInstallation {
  static constexpr const char* kPrivilegedHelperToolsPath = "/Library/PrivilegedHelperTools";
  static constexpr const char* kLaunchDaemonsPath = "/Library/LaunchDaemons";
  static constexpr const char* kBundleIdentifierKey = "CFBundleIdentifier";

  // The installed agent: identifier from the embedded Info property list, the system folders
  // and scheduleTermination.
  static AgentInstallation installed();

  std::optional<std::string> bundleIdentifier;
  std::string privilegedHelperToolsPath = kPrivilegedHelperToolsPath;
  std::string launchDaemonsPath = kLaunchDaemonsPath;
  std::function<void()> terminate;

  // The bundle identifier when it can name the agent's files: present and a single safe file
  // name (an identifier such as ".." would turn the executable's path into a folder).
  std::optional<std::string> usableBundleIdentifier() const;
  // "<helper tools>/<identifier>": the agent's own executable.
  std::string executablePath(const std::string& identifier) const;
  // "<launch daemons>/<identifier>.plist": the agent's own job file.
  std::string jobFilePath(const std::string& identifier) const;
};

// The bundle identifier in the main bundle's Info property list; none when absent, empty or
// not a string.
std::optional<std::string> mainBundleIdentifier();

// Removes the agent's executable, then its job file, with the file manager's ordinary
// removal; throws the first failure's error, leaving the job file when the executable could
// not be removed.
void removeAgentExecutableAndJobFile(const utilities::FileManager& fileManager,
                                     const AgentInstallation& installation,
                                     const std::string& identifier);

// Whether a path from a request may reach the file system: absolute, without NUL bytes. A
// relative path would be resolved against the agent's working folder, which no client means.
bool isUsableRequestPath(std::string_view path);
// The file that a request's URL names: only a file URL names one (an "http:" URL whose path
// happens to be "/etc/passwd" does not), with its path as the bytes it decodes to, since file
// names need not be UTF-8. None when the URL names no file.
std::optional<std::string> requestPath(const platform::URL& url);
// Whether the path names the root folder once "." and ".." are resolved ("/", "/.", "/tmp/..").
// The root is never removed, and a refused removal must not go on to clear the immutable
// flags of every item on the disk, as the forced removal's retry would.
bool namesRootFolder(std::string_view path);
// Whether `path` itself is a folder; a symbolic link is not, wherever it leads.
bool isFolderItself(const std::string& path);
// The error of a removal of the root folder: the file manager's no-permission error.
platform::NSError rootFolderRemovalError(const std::string& path);
// The error of a request whose path is not usable: the file manager's invalid-file-name error.
platform::NSError unusablePathError(const std::string& path);
// The same for a URL that names no file, quoting the URL as it came.
platform::NSError unusablePathError(const platform::URL& url);
// Throws a file manager's error; one that was left empty becomes the unknown write error of
// `path`, so that a failure never reaches the client as success.
[[noreturn]] void throwFileManagerError(platform::NSError error, const std::string& path);

// Answers the file requests of clients that may not touch a file themselves: existence, size,
// removal (also of immutable items), truncation, moving, and the removal of the agent itself.
// Holds no mutable state; safe to call from several threads at once.
class FileSystemPrivilegedOperations {
public:
  FileSystemPrivilegedOperations();
  explicit FileSystemPrivilegedOperations(AgentInstallation installation);

  // Whether an item exists at the URL's path (links followed); false for unusable paths.
  bool fileExists(const platform::URL& url) const;
  // The space the item occupies in bytes; 0 when nothing can be measured.
  uint64_t fileSize(const platform::URL& url) const;
  // Removes the item, clearing immutable flags when needed; a missing item counts as removed.
  // Throws the removal's error (platform::NSErrorException) otherwise.
  bool removeFile(const platform::URL& url) const;
  // Truncates an existing regular file to length 0; false for anything else. Never throws.
  bool truncateFile(const platform::URL& url) const;
  // Moves the item with the file manager's plain move: an existing destination makes it fail
  // (516). Throws the move's error.
  bool moveFile(const std::string& source, const std::string& destination) const;
  // Removes the agent's executable, then its job file, and schedules the end of the process.
  // Throws emptyBundleIdentifier without an identifier, or the first removal's error, in which
  // case nothing further happens and the process keeps running.
  void removePrivilegedAgent() const;

  const utilities::FileManager& fileManager() const { return fileManager_; }

private:
  const utilities::FileManager& fileManager_;
  AgentInstallation installation_;
};

} // namespace operations
