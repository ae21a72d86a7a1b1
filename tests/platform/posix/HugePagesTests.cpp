#include "platform/posix/HugePages.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/mman.h>

namespace platform::posix {
namespace {

// The VmFlags of the mapping that holds `address`, from /proc/self/smaps.
std::string flagsOfMappingAt(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto target = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  std::string line;
  while (std::getline(smaps, line)) {
    uintptr_t start = 0;
    uintptr_t end = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> start >> dash >> end && dash == '-') {
      inside = start <= target && target < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return {};
}

struct Unmap {
  size_t size;
  void operator()(void* region) const { ::munmap(region, size); }
};

TEST(HugePages, OnlyLargeBuffersAskForThemAndOnlyTheirWholeHugePages) {
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) {
    GTEST_SKIP() << "this kernel has no transparent huge pages";
  }
  constexpr size_t kSize = 64 << 20;
  void* mapped = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  std::unique_ptr<void, Unmap> region(mapped, Unmap{kSize});
  auto* bytes = static_cast<uint8_t*>(mapped);

  adviseHugePages(bytes, kHugePageWorthySize - 1); // too small: nothing changes
  EXPECT_EQ(flagsOfMappingAt(bytes).find(" hg"), std::string::npos);

  // A buffer that starts one byte past a page: the part before its first whole huge page keeps
  // its flags, the whole huge pages inside ask for huge pages.
  adviseHugePages(bytes + 1, kSize - 1);
  const uintptr_t firstWhole =
      (reinterpret_cast<uintptr_t>(bytes + 1) + (2 << 20) - 1) & ~uintptr_t{(2 << 20) - 1};
  EXPECT_NE(flagsOfMappingAt(reinterpret_cast<void*>(firstWhole)).find(" hg"), std::string::npos);
  EXPECT_EQ(flagsOfMappingAt(bytes).find(" hg"), std::string::npos);

  adviseHugePages(nullptr, kSize); // harmless
}

} // namespace
} // namespace platform::posix
