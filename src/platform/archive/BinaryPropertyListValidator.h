#pragma once

#include "platform/archive/ArchiveLimits.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform::archive {

// Checks the structure of a binary property list ("bplist00") before any parser sees it:
// the trailer, the offset table, every object's marker and extent, every reference, the
// absence of reference cycles, the nesting depth and the size of the tree that the shared
// references expand to. Only the object kinds a keyed archive uses are accepted (Booleans,
// integers, reals, dates, data, strings, UIDs, arrays and dictionaries with string keys).
//
// Returns none when the bytes are acceptable, otherwise a description of the first fault.
std::optional<std::string> validateBinaryPropertyList(std::span<const uint8_t> bytes,
                                                      const ArchiveLimits& limits);

} // namespace platform::archive
