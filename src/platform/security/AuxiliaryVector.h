#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::security {

// The auxiliary vector that the kernel handed a program at exec, as /proc/PID/auxv shows it:
// (type, value) pairs of the process's native word size, ending with the AT_NULL pair. The
// kernel writes it and no process can change it afterwards, which is why the agent reads
// AT_SECURE from here and not from anything the peer controls.
class AuxiliaryVector {
public:
  // Entries beyond this many are refused: the kernel writes a few dozen.
  static constexpr size_t kMaxEntries = 256;

  // Parses `bytes` written for words of `wordSize` bytes (4 or 8). False with a reason when the
  // bytes are not whole pairs, lack the AT_NULL terminator, go on after it, hold too many
  // entries or give one type twice.
  static bool parse(std::string_view bytes, size_t wordSize, AuxiliaryVector& vector,
                    std::string& reason);

  // The value of entry `type`; none when the vector has no such entry.
  std::optional<uint64_t> value(uint64_t type) const;
  size_t size() const { return entries_.size(); }

private:
  std::vector<std::pair<uint64_t, uint64_t>> entries_;
};

} // namespace platform::security
