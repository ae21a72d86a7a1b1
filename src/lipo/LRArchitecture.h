#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lipo {

// One of the two processor architectures the library knows: arm64 and x86_64.
class LRArchitecture {
public:
  LRArchitecture(std::string name, int32_t cpuType, int32_t cpuSubType)
      : name_(std::move(name)), cpuType_(cpuType), cpuSubType_(cpuSubType) {}

  static LRArchitecture _arm64();
  static LRArchitecture _x86_64();

  // The subtype without its capability bits (the top byte).
  static int32_t cpuSubtypeWithMask(int32_t cpuSubType) { return cpuSubType & 0xffffff; }
  // arm64 or x86_64 for their CPU type and (masked) generic subtype; none for everything else,
  // so arm64e, x86_64h, 32-bit and other processors are unsupported.
  static std::optional<LRArchitecture> getArchitectureByCpuType(int32_t cpuType,
                                                                int32_t cpuSubType);

  const std::string& name() const { return name_; }
  int32_t cpuType() const { return cpuType_; }
  int32_t cpuSubType() const { return cpuSubType_; }

  bool operator==(const LRArchitecture&) const = default;

private:
  std::string name_;
  int32_t cpuType_;
  int32_t cpuSubType_;
};

} // namespace lipo
