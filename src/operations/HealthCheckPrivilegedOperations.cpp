#include "operations/HealthCheckPrivilegedOperations.h"

#include "platform/loader/MainBundle.h"

namespace operations {

api::HealthCheckResponse HealthCheckPrivilegedOperations::healthCheck() const {
  std::string version = versionFromInfoDictionary(platform::loader::mainBundleInfoDictionary());
  // The time is read last so that it is never earlier than the version lookup.
  return api::HealthCheckResponse{platform::Date::now(), std::move(version)};
}

std::string HealthCheckPrivilegedOperations::versionFromInfoDictionary(
    const platform::PropertyList* infoDictionary) {
  if (infoDictionary == nullptr || infoDictionary->isNull() ||
      infoDictionary->root().type() != platform::PlistRef::Type::dictionary) {
    return kUnknownVersion;
  }
  platform::PlistRef value = infoDictionary->root()[kVersionKey];
  if (value.isNull() || value.type() != platform::PlistRef::Type::string) {
    return kUnknownVersion;
  }
  return value.stringValue().value_or(kUnknownVersion);
}

} // namespace operations
