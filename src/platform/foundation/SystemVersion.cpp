#include "platform/foundation/SystemVersion.h"

#include <mutex>
#include <tuple>

namespace platform {
namespace {

struct ProviderSlot {
  std::mutex mutex;
  SystemVersion::Provider provider;
};

ProviderSlot& providerSlot() {
  static ProviderSlot slot;
  return slot;
}

} // namespace

bool SystemVersion::isAtLeast(const SystemVersion& other) const {
  return std::tie(majorVersion, minorVersion, patchVersion) >=
         std::tie(other.majorVersion, other.minorVersion, other.patchVersion);
}

std::string SystemVersion::description() const {
  return std::to_string(majorVersion) + "." + std::to_string(minorVersion) + "." +
         std::to_string(patchVersion);
}

SystemVersion SystemVersion::current() {
  Provider provider;
  {
    std::lock_guard lock(providerSlot().mutex);
    provider = providerSlot().provider;
  }
  return provider ? provider() : defaultVersion();
}

void SystemVersion::setProviderForTest(Provider provider) {
  std::lock_guard lock(providerSlot().mutex);
  providerSlot().provider = std::move(provider);
}

} // namespace platform
