#pragma once

#include "platform/foundation/URL.h"
#include "tasks/files/KLVTemporaryDirectoryProvider.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tasks {

// The user-information key under which an error names the user it concerns.
inline constexpr const char* kKLVEmbeddedUserNameKey = "kKLVEmbeddedUserNameKey";

// The folders of one user (or of the agent alone): the user's home and Library folders, and
// the process's temporary folder.
class KLVPathsProvider : public KLVTemporaryDirectoryProvider {
public:
  // `homeDirectory` none: a provider of the process alone, without a user.
  KLVPathsProvider(std::optional<std::string> homeDirectory, std::string temporaryDirectory)
      : homeDirectory_(std::move(homeDirectory)),
        temporaryDirectory_(std::move(temporaryDirectory)) {}

  // The provider of the process: no user, the process's temporary folder.
  static std::shared_ptr<KLVPathsProvider> defaultProvider();
  // The provider of the user `userName` from the password database; null when the name is not
  // acceptable, the user is unknown, or the home folder is missing or "/var/empty".
  static std::shared_ptr<KLVPathsProvider> providerWithUserName(std::string_view userName);

  // Whether `userName` may stand in a path and as a tool argument: not empty, at most 255
  // bytes, no "/", no leading "-" (it would read as an option), no control characters.
  static bool isAcceptableUserName(std::string_view userName);

  // The process's temporary folder, standardized. It is "/tmp": the agent reads no paths from
  // its environment.
  static std::string processTemporaryDirectory();
  // Replaces the process's temporary folder for the whole process; none restores "/tmp".
  static void setProcessTemporaryDirectoryForTest(std::optional<std::string> directory);

  const std::optional<std::string>& homeDirectory() const { return homeDirectory_; }
  // The user's Library folder; none for the provider of the process.
  std::optional<platform::URL> userLibraryDirectoryURL() const;
  platform::URL temporaryDirectoryURL() const override;

private:
  std::optional<std::string> homeDirectory_;
  std::string temporaryDirectory_;
};

} // namespace tasks
