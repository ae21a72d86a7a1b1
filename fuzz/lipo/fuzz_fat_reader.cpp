// Feeds arbitrary bytes to the universal-file reader and the single-architecture reader, from
// memory and through a file descriptor, and checks that whatever is accepted is sound: every
// slice lies inside the input, and the writer's layout of the slices is aligned and disjoint.
#include "lipo/FatFormat.h"
#include "lipo/FatLayout.h"
#include "lipo/FileDescriptor.h"
#include "lipo/LRBinaryReader.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void checkLayout(const std::vector<lipo::LRThinFile>& slices, bool fat64) {
  std::string reason;
  auto layout = lipo::FatLayout::make(slices, fat64, &reason);
  if (!layout) {
    check(!reason.empty());
    return;
  }
  check(layout->header.size() ==
        lipo::fat::kHeaderSize + slices.size() * lipo::fat::recordSize(fat64));
  uint64_t previousEnd = layout->header.size();
  for (const auto& placement : layout->placements) {
    const lipo::LRThinFile& slice = slices[placement.slice];
    check(placement.offset >= previousEnd);
    check(placement.offset % (uint64_t(1) << slice.align()) == 0);
    previousEnd = placement.offset + slice.size();
  }
  check(previousEnd == layout->fileSize);
}

void checkFatFile(const lipo::LRFatBinaryFile& file, uint64_t size) {
  for (const lipo::LRThinFile& slice : file.thinFiles()) {
    check(slice.offset() <= size && slice.size() <= size - slice.offset());
    check(slice.align() <= lipo::fat::kMaxAlign);
    auto data = slice.data();
    check(data && data->size() == slice.size());
  }
  checkLayout(file.thinFiles(), file.fat64Flag());
  checkLayout(file.thinFiles(), !file.fat64Flag());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const lipo::LRBinaryReader reader;
  auto source = std::make_shared<lipo::MemoryByteSource>(platform::Bytes(data, data + size));
  platform::NSError error;
  if (auto file = reader.getFatBinaryFile("memory", source, &error)) {
    checkFatFile(*file, size);
  } else {
    check(!error.domain().empty());
  }
  reader.getNonFatBinaryFile("memory", *source, &error);

  // The same bytes through the file path: open, size, positioned reads.
  lipo::FileDescriptor memoryFile(::memfd_create("fuzz_fat_reader", MFD_CLOEXEC));
  if (memoryFile.isValid() && ::write(memoryFile.get(), data, size) == ssize_t(size)) {
    const std::string path = "/proc/self/fd/" + std::to_string(memoryFile.get());
    if (auto file = reader.getFatBinaryFileAtPath(path, &error)) {
      checkFatFile(*file, size);
    }
    reader.getNonFatBinaryFileAtPath(path, &error);
  }
  return 0;
}
