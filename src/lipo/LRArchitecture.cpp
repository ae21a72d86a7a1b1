#include "lipo/LRArchitecture.h"

#include "lipo/FatFormat.h"

namespace lipo {

LRArchitecture LRArchitecture::_arm64() {
  return LRArchitecture("arm64", fat::kCpuTypeArm64, fat::kCpuSubtypeArm64All);
}

LRArchitecture LRArchitecture::_x86_64() {
  return LRArchitecture("x86_64", fat::kCpuTypeX86_64, fat::kCpuSubtypeX86_64All);
}

std::optional<LRArchitecture> LRArchitecture::getArchitectureByCpuType(int32_t cpuType,
                                                                       int32_t cpuSubType) {
  const int32_t subtype = cpuSubtypeWithMask(cpuSubType);
  if (cpuType == fat::kCpuTypeArm64 && subtype == fat::kCpuSubtypeArm64All) {
    return _arm64();
  }
  if (cpuType == fat::kCpuTypeX86_64 && subtype == fat::kCpuSubtypeX86_64All) {
    return _x86_64();
  }
  return std::nullopt;
}

} // namespace lipo
