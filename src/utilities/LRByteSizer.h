#pragma once

#include "platform/foundation/URL.h"

#include <cstdint>
#include <fts.h>
#include <string>

namespace utilities {

// Measures the disk space a file or folder occupies (allocated 512-byte blocks, summed over a
// physical walk that never follows links and does cross mount points; every directory is
// counted once) and the logical length of a file. Every failure gives 0. The block size is
// fixed at 512 bytes (Linux reports st_blocks in those units), so no environment variable is
// consulted or set.
class LRByteSizer {
public:
  // Space occupied by the item and everything inside it, a multiple of 512; 0 for an empty or
  // unwalkable path.
  static uint64_t byteSizeAtPath(const std::string& path);
  static uint64_t byteSizeAtURL(const platform::URL& url);
  // The file length from stat (links followed); 0 for an empty path or a failing stat.
  static uint64_t logicalByteSizeAtPath(const std::string& path);
  static uint64_t logicalByteSizeAtURL(const platform::URL& url);
  // Space of one walk entry; 0 for entries without status, unreadable folders, cycles, errors
  // and entries with two or more hard links.
  static uint64_t itemSizeWithFTSEntry(const FTSENT* entry);
};

} // namespace utilities
