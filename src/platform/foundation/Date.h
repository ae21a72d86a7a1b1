#pragma once

#include <chrono>
#include <compare>

namespace platform {

// A point in time as seconds since the reference date, 1 January 2001 00:00:00 UTC.
class Date {
public:
  // Seconds between the Unix epoch and the reference date.
  static constexpr double kReferenceDateUnixTime = 978307200.0;

  Date() : Date(now()) {}
  static Date now();
  static Date fromTimeIntervalSinceReferenceDate(double seconds) { return Date(seconds, 0); }
  static Date fromTimeIntervalSince1970(double seconds) {
    return Date(seconds - kReferenceDateUnixTime, 0);
  }

  double timeIntervalSinceReferenceDate() const { return seconds_; }
  double timeIntervalSince1970() const { return seconds_ + kReferenceDateUnixTime; }

  auto operator<=>(const Date&) const = default;

private:
  Date(double seconds, int) : seconds_(seconds) {}
  double seconds_ = 0;
};

inline Date Date::now() {
  auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return fromTimeIntervalSince1970(std::chrono::duration<double>(sinceEpoch).count());
}

} // namespace platform
