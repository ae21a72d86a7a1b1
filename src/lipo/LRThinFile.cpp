#include "lipo/LRThinFile.h"

namespace lipo {

LRThinFile::LRThinFile(int32_t cpuType, int32_t cpuSubType, uint64_t offset, uint64_t size,
                       uint32_t align, std::shared_ptr<const ByteSource> source,
                       uint64_t sourceOffset)
    : cpuType_(cpuType), cpuSubType_(cpuSubType), offset_(offset), size_(size), align_(align),
      source_(std::move(source)), sourceOffset_(sourceOffset) {}

LRThinFile LRThinFile::withData(platform::Bytes data, int32_t cpuType, int32_t cpuSubType,
                                uint64_t offset, uint32_t align) {
  const uint64_t size = data.size();
  return LRThinFile(cpuType, cpuSubType, offset, size, align,
                    std::make_shared<MemoryByteSource>(std::move(data)), 0);
}

std::optional<platform::Bytes> LRThinFile::data() const noexcept {
  // The size was checked against the source when the slice was made, so the allocation is
  // never larger than the file.
  if (sourceOffset_ > source_->size() || size_ > source_->size() - sourceOffset_) {
    return std::nullopt;
  }
  try {
    platform::Bytes bytes(static_cast<size_t>(size_));
    if (source_->read(sourceOffset_, bytes.data(), bytes.size()) != 0) {
      return std::nullopt;
    }
    return bytes;
  } catch (...) {
    return std::nullopt;
  }
}

} // namespace lipo
