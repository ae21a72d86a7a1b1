#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::loader {

// Reads the bytes of one named section of an ELF file (64- or 32-bit, little-endian). Every
// offset and size in the headers is checked against the file before it is used; the section is
// refused when it is larger than `maximumSize`.
// Returns none when the file is not ELF or has no such section; `error` says which.
std::optional<std::string> readElfSection(int fd, std::string_view sectionName, size_t maximumSize,
                                          NSError* error = nullptr);
std::optional<std::string> readElfSection(const std::string& path, std::string_view sectionName,
                                          size_t maximumSize, NSError* error = nullptr);

} // namespace platform::loader
