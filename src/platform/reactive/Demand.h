#pragma once

#include <compare>
#include <cstddef>
#include <limits>

namespace platform::reactive {

// How many values a subscriber is prepared to receive: none, a count, or unlimited.
// Arithmetic saturates: adding to unlimited stays unlimited, an overflowing sum becomes
// unlimited, and subtracting never goes below none.
class Demand {
public:
  constexpr Demand() = default;

  static constexpr Demand none() { return Demand(); }
  static constexpr Demand unlimited() { return Demand(0, true); }
  static constexpr Demand max(std::size_t count) { return Demand(count, false); }

  constexpr bool isUnlimited() const { return unlimited_; }
  constexpr bool isNone() const { return !unlimited_ && count_ == 0; }
  // The count; the largest size for unlimited.
  constexpr std::size_t count() const {
    return unlimited_ ? std::numeric_limits<std::size_t>::max() : count_;
  }

  constexpr Demand operator+(Demand other) const {
    if (unlimited_ || other.unlimited_) {
      return unlimited();
    }
    if (count_ > std::numeric_limits<std::size_t>::max() - other.count_) {
      return unlimited();
    }
    return max(count_ + other.count_);
  }
  constexpr Demand& operator+=(Demand other) { return *this = *this + other; }

  // Unlimited minus anything is unlimited; a count minus unlimited is none.
  constexpr Demand operator-(Demand other) const {
    if (unlimited_) {
      return unlimited();
    }
    if (other.unlimited_ || other.count_ >= count_) {
      return none();
    }
    return max(count_ - other.count_);
  }
  constexpr Demand& operator-=(Demand other) { return *this = *this - other; }

  constexpr bool operator==(const Demand& other) const {
    return unlimited_ == other.unlimited_ && (unlimited_ || count_ == other.count_);
  }
  // Unlimited orders above every count.
  constexpr std::strong_ordering operator<=>(const Demand& other) const {
    if (unlimited_ || other.unlimited_) {
      return unlimited_ <=> other.unlimited_;
    }
    return count_ <=> other.count_;
  }

private:
  constexpr Demand(std::size_t count, bool unlimited) : count_(count), unlimited_(unlimited) {}

  std::size_t count_ = 0;
  bool unlimited_ = false;
};

} // namespace platform::reactive
