#include "ipc/client/MainBundleHandshake.h"

#include "platform/loader/MainBundle.h"

#include <filesystem>

namespace ipc {

std::optional<std::string> mainBundleInfoString(std::string_view key) {
  const platform::PropertyList* info = platform::loader::mainBundleInfoDictionary();
  if (!info) {
    return std::nullopt;
  }
  return info->root()[key].stringValue();
}

HandshakePayload mainBundleHandshakePayload() {
  using Errors = HandshakePayload::Errors;
  HandshakePayload payload;
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  payload.bundleURL = platform::URL::fileURLWithPath(executable.parent_path().string());
  auto bundleID = mainBundleInfoString("CFBundleIdentifier");
  if (!bundleID) {
    throw Errors(Errors::Case::failedToGetBundleIdentifier);
  }
  auto version = mainBundleInfoString("CFBundleShortVersionString");
  if (!version) {
    throw Errors(Errors::Case::failedToGetBundleVersion);
  }
  payload.bundleID = *bundleID;
  payload.version = *version;
  return payload;
}

} // namespace ipc
