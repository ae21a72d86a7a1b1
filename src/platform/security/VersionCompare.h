#pragma once

#include <string_view>

namespace platform::security {

// Compares two strings the way the platform compares version strings: runs of digits compare
// as numbers ("0.0.9" < "0.0.10", "01" equals "1"), every other character by its code. Returns
// a negative number, zero or a positive number.
int compareNumerically(std::string_view left, std::string_view right);

} // namespace platform::security
