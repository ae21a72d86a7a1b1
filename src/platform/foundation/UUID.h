#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A 128-bit universally unique identifier; its text is the canonical upper-case form.
class UUID {
public:
  using Bytes = std::array<uint8_t, 16>;

  // A fresh random (version 4) identifier.
  UUID();
  explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

  // Parses the canonical 8-4-4-4-12 form in either case; none for anything else.
  static std::optional<UUID> fromString(std::string_view text);

  std::string uuidString() const;
  const Bytes& bytes() const { return bytes_; }

  auto operator<=>(const UUID&) const = default;

private:
  Bytes bytes_;
};

} // namespace platform

template <> struct std::hash<platform::UUID> {
  size_t operator()(const platform::UUID& uuid) const noexcept {
    uint64_t a = 0;
    uint64_t b = 0;
    for (int i = 0; i < 8; ++i) {
      a = (a << 8) | uuid.bytes()[i];
      b = (b << 8) | uuid.bytes()[i + 8];
    }
    return std::hash<uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ULL));
  }
};
