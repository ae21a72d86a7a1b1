#pragma once

#include "lipo/LRThinFile.h"
#include "platform/foundation/Base64.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lipo {

// Where the writer puts each slice of a universal file, and the bytes of its header.
//
// Slices are laid out by alignment, largest first (stable among equals, so the input order
// decides ties), each at the next multiple of its alignment after the previous one. The
// records follow the same order, except that the first arm64 slice and then the first x86_64h
// slice are moved to the end: loaders that pick the first matching record then prefer the
// generic x86_64 slice on older systems.
struct FatLayout {
  struct Placement {
    size_t slice;    // index into the slices the layout was made from
    uint64_t offset; // where the slice's bytes start in the new file
  };
  std::vector<Placement> placements; // in data order
  platform::Bytes header;            // the fat header and every record, written at offset 0
  uint64_t fileSize = 0;             // the end of the last slice

  // None, with the reason, when a slice cannot be placed: an alignment above 2^15, or an
  // offset or size beyond what the format can hold.
  static std::optional<FatLayout> make(const std::vector<LRThinFile>& slices, bool fat64,
                                       std::string* failureReason);
};

} // namespace lipo
