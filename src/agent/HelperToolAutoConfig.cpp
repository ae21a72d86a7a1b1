#include "agent/HelperToolAutoConfig.h"

#include "agent/AutoConfigError.h"
#include "platform/loader/DynamicLoader.h"

#include <climits>
#include <unistd.h>

namespace agent {
namespace {

// The shipped lists are a few kilobytes; anything far larger is not ours.
constexpr size_t kMaximumPropertyListSize = 1 << 20;

using platform::PlistRef;
using platform::PropertyList;

[[noreturn]] void misconfigured(std::string text) {
  throw AutoConfigError::misconfigured(std::move(text));
}

std::string runningExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

} // namespace

PropertyList HelperToolAutoConfig::parseEmbeddedPropertyList(std::string_view bytes,
                                                             std::string_view section) {
  platform::NSError parseError;
  auto list = PropertyList::parse(bytes, &parseError);
  if (!list) {
    throw platform::NSErrorException(parseError);
  }
  if (list->root().type() != PlistRef::Type::dictionary) {
    misconfigured("No plist " + std::string(section) + " is embedded to executable");
  }
  return std::move(*list);
}

PropertyList HelperToolAutoConfig::readEmbeddedPropertyList(std::string_view section) {
  auto handle = platform::loader::MainProgramHandle::open();
  if (!handle) {
    misconfigured("Could not read property list (handle not openable)");
  }
  const void* header = handle->symbol(platform::loader::kExecuteHeaderSymbol);
  if (header == nullptr) {
    misconfigured("Could not read property list (nil symbol pointer)");
  }
  auto bytes =
      platform::loader::getSectionData(header, "__TEXT", section, kMaximumPropertyListSize);
  if (!bytes) {
    misconfigured("Missing property list section " + std::string(section));
  }
  return parseEmbeddedPropertyList(*bytes, section);
}

std::string HelperToolAutoConfig::machServiceName(const PropertyList& launchdPropertyList) {
  PlistRef services = launchdPropertyList.root()["MachServices"];
  if (services.type() != PlistRef::Type::dictionary) {
    misconfigured("launchd property list missing MachServices key");
  }
  auto names = services.dictionaryKeys();
  if (names.empty()) {
    misconfigured("MachServices has no entries");
  }
  return names.front();
}

std::string HelperToolAutoConfig::machServiceName() {
  return machServiceName(readEmbeddedPropertyList(kLaunchdSection));
}

void HelperToolAutoConfig::checkLocation(const std::string& executablePath) {
  auto slash = executablePath.rfind('/');
  std::string directory =
      slash == std::string::npos ? std::string() : executablePath.substr(0, slash);
  if (directory != kHelperToolsDirectory) {
    misconfigured(std::string("A blessed helper tool must be located in directory: ") +
                  kHelperToolsDirectory);
  }
}

void HelperToolAutoConfig::checkLocation() {
  checkLocation(runningExecutablePath());
}

std::vector<std::string>
HelperToolAutoConfig::authorizedClients(const PropertyList& infoPropertyList) {
  PlistRef clients = infoPropertyList.root()["SMAuthorizedClients"];
  if (clients.type() != PlistRef::Type::array) {
    misconfigured("Info property list missing SMAuthorizedClients key");
  }
  std::vector<std::string> requirements;
  requirements.reserve(clients.arraySize());
  for (size_t i = 0; i < clients.arraySize(); ++i) {
    auto text = clients.arrayItem(i).stringValue();
    if (!text) {
      misconfigured("Info property list missing SMAuthorizedClients key");
    }
    requirements.push_back(std::move(*text));
  }
  return requirements;
}

std::vector<std::string> HelperToolAutoConfig::authorizedClients() {
  return authorizedClients(readEmbeddedPropertyList(kInfoSection));
}

platform::security::RuntimePolicy
HelperToolAutoConfig::clientsRuntimePolicy(const std::string& groupName) {
  platform::security::RuntimePolicy policy;
  if (auto status = platform::security::RuntimePolicy::forGroupNamed(groupName, policy); !status) {
    misconfigured("Cannot admit clients: " + status.message());
  }
  return policy;
}

} // namespace agent
