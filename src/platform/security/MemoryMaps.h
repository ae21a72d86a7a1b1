#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::security {

// One line of /proc/PID/maps.
struct MemoryMapping {
  uint64_t start = 0;
  uint64_t end = 0;
  bool executable = false;
  uint64_t inode = 0; // 0 for memory that no file backs
  // The name as the kernel shows it: a path (which may end in " (deleted)"), a pseudo name such
  // as "[vdso]", or empty. Only for messages and for telling pseudo mappings apart: a path may
  // hold any bytes, so the file behind a mapping is found through /proc/PID/map_files.
  std::string name;

  // The entry of /proc/PID/map_files that leads to the mapped file: "start-end" in hex.
  std::string mapFilesName() const;
};

// Parses the text of /proc/PID/maps. Every line must have the kernel's form, "start-end perms
// offset major:minor inode [name]" with hexadecimal addresses and start below end, and end
// with a newline. False with a reason otherwise, or when there are more than kMaxMappings lines.
struct MemoryMaps {
  static constexpr size_t kMaxMappings = 1u << 20;

  static bool parse(std::string_view text, std::vector<MemoryMapping>& mappings,
                    std::string& reason);
};

} // namespace platform::security
