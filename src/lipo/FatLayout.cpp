#include "lipo/FatLayout.h"

#include "lipo/FatFormat.h"
#include "lipo/LRArchitecture.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace lipo {
namespace {

bool isX86_64h(const LRThinFile& slice) {
  return slice.cpuType() == fat::kCpuTypeX86_64 &&
         LRArchitecture::cpuSubtypeWithMask(slice.cpuSubType()) == fat::kCpuSubtypeX86_64H;
}

bool isArm64(const LRThinFile& slice) {
  return slice.cpuType() == fat::kCpuTypeArm64;
}

std::optional<FatLayout> fail(std::string* failureReason, std::string reason) {
  if (failureReason != nullptr) {
    *failureReason = std::move(reason);
  }
  return std::nullopt;
}

} // namespace

std::optional<FatLayout> FatLayout::make(const std::vector<LRThinFile>& slices, bool fat64,
                                         std::string* failureReason) {
  constexpr uint64_t max32 = std::numeric_limits<uint32_t>::max();
  if (slices.size() > max32) {
    return fail(failureReason, "Too many slices for a fat header");
  }
  const uint64_t count = slices.size();
  const uint64_t recordSize = fat::recordSize(fat64);

  std::vector<size_t> sorted(slices.size());
  std::iota(sorted.begin(), sorted.end(), size_t(0));
  std::stable_sort(sorted.begin(), sorted.end(), [&](size_t left, size_t right) {
    return slices[left].align() > slices[right].align();
  });

  FatLayout layout;
  layout.placements.reserve(sorted.size());
  uint64_t offset = fat::kHeaderSize + count * recordSize;
  for (size_t index : sorted) {
    const LRThinFile& slice = slices[index];
    if (slice.align() > fat::kMaxAlign) {
      return fail(failureReason,
                  "Slice alignment 2^" + std::to_string(slice.align()) + " is out of range");
    }
    const uint64_t mask = (uint64_t(1) << slice.align()) - 1;
    uint64_t start = 0;
    uint64_t end = 0;
    if (__builtin_add_overflow(offset, mask, &start) ||
        __builtin_add_overflow(start & ~mask, slice.size(), &end)) {
      return fail(failureReason, "Slice offset overflows the fat file");
    }
    start &= ~mask;
    if (!fat64 && (start > max32 || slice.size() > max32)) {
      return fail(failureReason, "Slice offset " + std::to_string(start) + " or size " +
                                     std::to_string(slice.size()) +
                                     " does not fit the 32-bit fat format");
    }
    layout.placements.push_back({index, start});
    offset = end;
  }
  layout.fileSize = offset;

  // Record order: everything but the first arm64 and the first x86_64h slice, then those two.
  std::optional<size_t> arm64;
  std::optional<size_t> x86_64h;
  for (size_t position = 0; position < layout.placements.size(); ++position) {
    const LRThinFile& slice = slices[layout.placements[position].slice];
    if (!x86_64h && isX86_64h(slice)) {
      x86_64h = position;
    } else if (!arm64 && isArm64(slice)) {
      arm64 = position;
    }
  }
  std::vector<size_t> recordOrder;
  recordOrder.reserve(layout.placements.size());
  for (size_t position = 0; position < layout.placements.size(); ++position) {
    if (position != arm64 && position != x86_64h) {
      recordOrder.push_back(position);
    }
  }
  if (arm64) {
    recordOrder.push_back(*arm64);
  }
  if (x86_64h) {
    recordOrder.push_back(*x86_64h);
  }

  layout.header.assign(size_t(fat::kHeaderSize + count * recordSize), 0);
  uint8_t* cursor = layout.header.data();
  fat::storeBig32(cursor, fat64 ? fat::kMagic64 : fat::kMagic32);
  fat::storeBig32(cursor + 4, uint32_t(count));
  cursor += fat::kHeaderSize;
  for (size_t position : recordOrder) {
    const Placement& placement = layout.placements[position];
    const LRThinFile& slice = slices[placement.slice];
    fat::encodeRecord(
        {slice.cpuType(), slice.cpuSubType(), placement.offset, slice.size(), slice.align()}, fat64,
        cursor);
    cursor += recordSize;
  }
  return layout;
}

} // namespace lipo
