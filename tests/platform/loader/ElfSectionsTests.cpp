#include "platform/loader/ElfSections.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace platform::loader {
namespace {

std::string readSelf() {
  std::ifstream in("/proc/self/exe", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ElfSectionsTest : public ::testing::Test {
protected:
  std::string writeTemp(const std::string& bytes) {
    std::string path =
        ::testing::TempDir() + "elf-" + std::to_string(getpid()) + "-" + std::to_string(counter_++);
    std::ofstream(path, std::ios::binary) << bytes;
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& path : paths_) {
      unlink(path.c_str());
    }
  }

private:
  int counter_ = 0;
  std::vector<std::string> paths_;
};

TEST_F(ElfSectionsTest, FindsASectionOfARealExecutable) {
  auto comment = readElfSection(std::string("/proc/self/exe"), ".comment", 1 << 20);
  ASSERT_TRUE(comment);
  EXPECT_NE(comment->find("GCC"), std::string::npos);
}

TEST_F(ElfSectionsTest, ReportsMissingOversizedAndNonElf) {
  NSError error;
  EXPECT_FALSE(readElfSection(std::string("/proc/self/exe"), "__absent", 1 << 20, &error));
  EXPECT_EQ(error.code(), 3);
  EXPECT_FALSE(readElfSection(std::string("/proc/self/exe"), ".text", 16, &error));
  EXPECT_EQ(error.code(), 4);
  EXPECT_FALSE(readElfSection(writeTemp("#!/bin/sh\necho hi\n"), ".text", 1 << 20, &error));
  EXPECT_EQ(error.code(), 1);
}

TEST_F(ElfSectionsTest, TruncatedOrCorruptedHeadersAreRefusedNotRead) {
  std::string self = readSelf();
  ASSERT_GT(self.size(), 4096u);
  NSError error;
  // Cut before the section table (which lies at the end of the file).
  EXPECT_FALSE(
      readElfSection(writeTemp(self.substr(0, self.size() / 2)), ".comment", 1 << 20, &error));
  // Section header offset pointing far past the end.
  std::string corrupt = self;
  uint64_t hugeOffset = ~uint64_t{0} - 8;
  corrupt.replace(0x28, 8, reinterpret_cast<const char*>(&hugeOffset), 8);
  EXPECT_FALSE(readElfSection(writeTemp(corrupt), ".comment", 1 << 20, &error));
  // A section count far beyond the table.
  corrupt = self;
  uint16_t manySections = 0xFFFF;
  corrupt.replace(0x3C, 2, reinterpret_cast<const char*>(&manySections), 2);
  EXPECT_FALSE(readElfSection(writeTemp(corrupt), ".comment", 1 << 20, &error));
}

} // namespace
} // namespace platform::loader
