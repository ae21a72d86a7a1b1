#pragma once

#include "lipo/ByteSource.h"
#include "platform/foundation/Base64.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace lipo {

// One slice of a universal file: its fat record and where its contents are. The contents stay
// in their source (the file the reader opened) until they are asked for or copied.
class LRThinFile {
public:
  // A slice whose contents are the `size` bytes at `sourceOffset` of `source`.
  LRThinFile(int32_t cpuType, int32_t cpuSubType, uint64_t offset, uint64_t size, uint32_t align,
             std::shared_ptr<const ByteSource> source, uint64_t sourceOffset);
  // A slice whose contents are `data`.
  static LRThinFile withData(platform::Bytes data, int32_t cpuType, int32_t cpuSubType,
                             uint64_t offset, uint32_t align);

  int32_t cpuType() const { return cpuType_; }
  // As recorded, capability bits kept.
  int32_t cpuSubType() const { return cpuSubType_; }
  // Byte offset of the slice in the universal file it was read from.
  uint64_t offset() const { return offset_; }
  uint64_t size() const { return size_; }
  // The slice starts at a multiple of 2^align.
  uint32_t align() const { return align_; }

  // The slice's complete contents, read now; none when they cannot be read (the source file
  // changed, or memory ran out).
  std::optional<platform::Bytes> data() const noexcept;

  const ByteSource& source() const { return *source_; }
  uint64_t sourceOffset() const { return sourceOffset_; }

private:
  int32_t cpuType_;
  int32_t cpuSubType_;
  uint64_t offset_;
  uint64_t size_;
  uint32_t align_;
  std::shared_ptr<const ByteSource> source_;
  uint64_t sourceOffset_;
};

} // namespace lipo
