#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace lipo::fat {

// The universal file format: an 8-byte header (magic, slice count) followed by one record per
// slice; every field big-endian.
inline constexpr uint32_t kMagic32 = 0xCAFEBABE;
inline constexpr uint32_t kMagic64 = 0xCAFEBABF;
inline constexpr uint64_t kHeaderSize = 8;
inline constexpr uint64_t kRecordSize32 = 20;
inline constexpr uint64_t kRecordSize64 = 32;
// A slice starts at a multiple of 2^align; larger exponents are not accepted.
inline constexpr uint32_t kMaxAlign = 15;
// The most slice records read from one file. Real files hold a handful; the loaders of the
// platform read the records from the first page. The bound keeps a forged count from costing
// memory or time.
inline constexpr uint32_t kMaxSliceCount = 4096;

// The single-architecture (thin) Mach-O header is 28 bytes; CPU type and subtype are the
// little-endian words at offsets 4 and 8.
inline constexpr uint64_t kThinHeaderSize = 28;

inline constexpr int32_t kCpuTypeX86_64 = 0x1000007;
inline constexpr int32_t kCpuTypeArm64 = 0x100000C;
inline constexpr int32_t kCpuSubtypeX86_64All = 3;
inline constexpr int32_t kCpuSubtypeX86_64H = 8;
inline constexpr int32_t kCpuSubtypeArm64All = 0;

// One slice record in host order.
struct Record {
  int32_t cpuType = 0;
  int32_t cpuSubType = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t align = 0;
};

inline uint64_t recordSize(bool fat64) {
  return fat64 ? kRecordSize64 : kRecordSize32;
}

// Byte order lives here and nowhere else.
inline uint32_t loadBig32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t loadBig64(const uint8_t* p) {
  return uint64_t(loadBig32(p)) << 32 | loadBig32(p + 4);
}
inline uint32_t loadLittle32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[0]);
}
inline void storeBig32(uint8_t* p, uint32_t value) {
  p[0] = uint8_t(value >> 24);
  p[1] = uint8_t(value >> 16);
  p[2] = uint8_t(value >> 8);
  p[3] = uint8_t(value);
}
inline void storeBig64(uint8_t* p, uint64_t value) {
  storeBig32(p, uint32_t(value >> 32));
  storeBig32(p + 4, uint32_t(value));
}

// The format named by the first four bytes: false for 32-bit, true for 64-bit, none for a file
// that is not universal. The magic is accepted in either byte order; the rest of the file is
// big-endian whichever it was.
inline std::optional<bool> formatOfMagic(const uint8_t* p) {
  const uint32_t big = loadBig32(p);
  const uint32_t little = loadLittle32(p);
  if (big == kMagic32 || little == kMagic32) {
    return false;
  }
  if (big == kMagic64 || little == kMagic64) {
    return true;
  }
  return std::nullopt;
}

inline Record decodeRecord(const uint8_t* p, bool fat64) {
  Record record;
  record.cpuType = int32_t(loadBig32(p));
  record.cpuSubType = int32_t(loadBig32(p + 4));
  if (fat64) {
    record.offset = loadBig64(p + 8);
    record.size = loadBig64(p + 16);
    record.align = loadBig32(p + 24);
  } else {
    record.offset = loadBig32(p + 8);
    record.size = loadBig32(p + 12);
    record.align = loadBig32(p + 16);
  }
  return record;
}

// Writes `record` at `p` (recordSize(fat64) bytes). The caller has checked that offset and size
// fit the 32-bit format when it is used.
inline void encodeRecord(const Record& record, bool fat64, uint8_t* p) {
  storeBig32(p, uint32_t(record.cpuType));
  storeBig32(p + 4, uint32_t(record.cpuSubType));
  if (fat64) {
    storeBig64(p + 8, record.offset);
    storeBig64(p + 16, record.size);
    storeBig32(p + 24, record.align);
    storeBig32(p + 28, 0); // reserved
  } else {
    storeBig32(p + 8, uint32_t(record.offset));
    storeBig32(p + 12, uint32_t(record.size));
    storeBig32(p + 16, record.align);
  }
}

} // namespace lipo::fat
