#include "platform/posix/HugePages.h"

#include <cstdint>
#include <sys/mman.h>

namespace platform::posix {

void adviseHugePages(const void* data, size_t size) noexcept {
  if (data == nullptr || size < kHugePageWorthySize) {
    return;
  }
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (start + size) & ~(kHugePage - 1);
  if (first < last) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
}

} // namespace platform::posix
