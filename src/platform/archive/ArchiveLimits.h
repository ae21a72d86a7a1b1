#pragma once

#include <cstddef>

namespace platform::archive {

// Bounds on the work that one archive may cause. Archives come from other programs, so every
// size and count is capped before anything is allocated for it.
struct ArchiveLimits {
  // The largest archive accepted, in bytes (the transport's frame cap).
  size_t maxArchiveBytes = 64 * 1024 * 1024;
  // Property-list objects in the binary form, and the nodes they expand to once shared
  // references are copied out into a tree.
  size_t maxPropertyListObjects = 1'000'000;
  size_t maxPropertyListNodes = 4'000'000;
  // Nesting of property-list containers; a keyed archive needs four levels.
  size_t maxPropertyListDepth = 32;
  // Nesting of archived objects inside one another while decoding.
  size_t maxObjectDepth = 256;
  // Object references followed in total while decoding one archive.
  size_t maxObjectReferences = 1'000'000;

  // For a client reading the result that the agent sent it (not for anything the agent reads):
  // as large as a reply frame of `maxFrameBytes` can carry, where the archive travels base64
  // encoded twice (9/16 of the frame). A listing of a million files needs about five million
  // objects; the counts stay bounded by what such an archive could hold at a few bytes each.
  static ArchiveLimits forReceivedResults(size_t maxFrameBytes) {
    ArchiveLimits limits;
    limits.maxArchiveBytes = maxFrameBytes / 16 * 9;
    limits.maxPropertyListObjects = limits.maxArchiveBytes / 16;
    limits.maxPropertyListNodes = limits.maxArchiveBytes / 4;
    limits.maxObjectReferences = limits.maxArchiveBytes / 16;
    return limits;
  }
};

} // namespace platform::archive
