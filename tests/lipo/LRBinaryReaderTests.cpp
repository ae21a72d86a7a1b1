#include "LipoTestSupport.h"
#include "lipo/LRBinaryReader.h"
#include "lipo/LipoErrors.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace lipo::test {
namespace {

using platform::NSError;

constexpr const char* kNotFat = "This file isn't fat binary";
constexpr const char* kTruncated =
    "Truncated or malformed fat file (fat_arch structs would extend past the end of the file)";

Bytes filled(size_t size, uint8_t value) {
  return Bytes(size, value);
}

class LRBinaryReaderTests : public ::testing::Test {
protected:
  std::optional<LRFatBinaryFile> readFat(const Bytes& bytes, NSError* error) {
    writeFile(path_, bytes);
    return reader_.getFatBinaryFileAtPath(path_, error);
  }
  void expectFatError(const Bytes& bytes, int64_t code, const std::string& description) {
    NSError error;
    EXPECT_FALSE(readFat(bytes, &error));
    EXPECT_EQ(error.domain(), BinaryReaderErrorDomain);
    EXPECT_EQ(error.code(), code);
    EXPECT_EQ(error.localizedDescription(), description);
  }

  TemporaryDirectory directory_;
  std::string path_ = directory_.file("binary");
  LRBinaryReader reader_;
};

TEST_F(LRBinaryReaderTests, ReadsTheSlicesOfARealUniversalFile) {
  if (!haveRealTools()) {
    GTEST_SKIP() << "clang or llvm-lipo is missing (scripts/deps installs them)";
  }
  writeFile(directory_.file("arm64.o"), machObject("arm64"));
  writeFile(directory_.file("x86_64.o"), machObject("x86_64"));
  ASSERT_EQ(run({*llvmLipoPath(), "-create", directory_.file("x86_64.o"),
                 directory_.file("arm64.o"), "-output", path_}),
            0);
  NSError error;
  auto file = reader_.getFatBinaryFileAtPath(path_, &error);
  ASSERT_TRUE(file) << error.localizedDescription();
  EXPECT_EQ(file->path(), path_);
  EXPECT_FALSE(file->fat64Flag());
  ASSERT_EQ(file->thinFiles().size(), 2u);
  const LRThinFile& x86 = file->thinFiles()[0];
  const LRThinFile& arm = file->thinFiles()[1];
  EXPECT_EQ(x86.cpuType(), kX86_64);
  EXPECT_EQ(x86.cpuSubType(), 3);
  EXPECT_EQ(arm.cpuType(), kArm64);
  EXPECT_EQ(arm.offset() % (uint64_t(1) << arm.align()), 0u);
  EXPECT_EQ(x86.data(), machObject("x86_64"));
  EXPECT_EQ(arm.data(), machObject("arm64"));
}

TEST_F(LRBinaryReaderTests, AcceptsTheMagicInBothByteOrders) {
  const Bytes slice = filled(64, 0xAB);
  for (bool fat64 : {false, true}) {
    Bytes bytes = fatFile(fat64, {{kArm64, 0, 64, 64, 6, slice}});
    for (bool swapped : {false, true}) {
      if (swapped) {
        std::reverse(bytes.begin(), bytes.begin() + 4);
      }
      NSError error;
      auto file = readFat(bytes, &error);
      ASSERT_TRUE(file) << error.localizedDescription();
      EXPECT_EQ(file->fat64Flag(), fat64);
      ASSERT_EQ(file->thinFiles().size(), 1u);
      EXPECT_EQ(file->thinFiles()[0].data(), slice);
    }
  }
}

TEST_F(LRBinaryReaderTests, RejectsFilesThatAreNotUniversal) {
  expectFatError({0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0}, 2, kNotFat);
  expectFatError(filled(4096, 0), 2, kNotFat);
  expectFatError(machObject("arm64").empty() ? filled(64, 0xCF) : machObject("arm64"), 2, kNotFat);
}

TEST_F(LRBinaryReaderTests, RejectsRecordsThatExtendPastTheEnd) {
  // Three records announced, room for two.
  Bytes bytes = fatFile(false, {{kArm64, 0, 0, 0, 0, {}}, {kX86_64, 3, 0, 0, 0, {}}}, 3);
  expectFatError(bytes, 2, kTruncated);
  bytes = fatFile(true, {{kArm64, 0, 0, 0, 0, {}}}, 2);
  expectFatError(bytes, 2, kTruncated);
  // A forged count of 2^32 - 1 is refused without reading or allocating for it.
  expectFatError(fatFile(true, {}, 0xFFFFFFFF), 2, kTruncated);
  // Records that fit but are far more than any real file has.
  bytes = fatFile(false, {}, 5000);
  bytes.resize(8 + 5000 * 20, 0);
  expectFatError(bytes, 2, "Truncated or malformed fat file (too many fat_arch structs)");
}

TEST_F(LRBinaryReaderTests, SkipsRecordsThatCannotBeUsed) {
  const Bytes slice = filled(32, 0x11);
  Bytes bytes = fatFile(true, {
                                  {kArm64, 0, 256, 32, 5, slice},             // kept
                                  {kX86_64, 3, 4096, 32, 0, {}},              // past the end
                                  {kX86_64, 3, 0, 32, 16, {}},                // align 16
                                  {kX86_64, 3, 264, 32, 4, {}},               // misaligned
                                  {kX86_64, 3, ~uint64_t(0) - 7, 16, 0, {}},  // wraps around
                                  {kX86_64, 3, 288, 16, 3, filled(16, 0x22)}, // kept
                              });
  NSError error;
  auto file = readFat(bytes, &error);
  ASSERT_TRUE(file) << error.localizedDescription();
  ASSERT_EQ(file->thinFiles().size(), 2u);
  EXPECT_EQ(file->thinFiles()[0].offset(), 256u);
  EXPECT_EQ(file->thinFiles()[1].offset(), 288u);
}

TEST_F(LRBinaryReaderTests, ReportsFilesThatCannotBeRead) {
  NSError error;
  EXPECT_FALSE(reader_.getFatBinaryFileAtPath(directory_.file("missing"), &error));
  EXPECT_EQ(error.domain(), platform::NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), platform::NSFileReadNoSuchFileError);

  // Only regular files are opened for reading: a pipe would block, a device could act.
  const std::string pipe = directory_.file("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& path : {directory_.path(), pipe, std::string("/dev/null")}) {
    EXPECT_FALSE(reader_.getFatBinaryFileAtPath(path, &error));
    EXPECT_EQ(error.domain(), BinaryReaderErrorDomain);
    EXPECT_EQ(error.code(), 4);
    EXPECT_EQ(error.localizedDescription(), "Bytes are nil");
  }

  EXPECT_FALSE(reader_.getNonFatBinaryFileAtPath(directory_.path(), &error));
  EXPECT_EQ(error.code(), 4);
  EXPECT_EQ(error.localizedDescription(), "Cannot access data");
}

TEST_F(LRBinaryReaderTests, ReadsTheArchitectureOfASingleArchitectureFile) {
  NSError error;
  writeFile(path_, filled(27, 0));
  EXPECT_FALSE(reader_.getNonFatBinaryFileAtPath(path_, &error));
  EXPECT_EQ(error.code(), 1);
  EXPECT_EQ(error.localizedDescription(), "This file isn't non fat binary");

  if (!haveRealTools()) {
    GTEST_SKIP() << "clang is missing (scripts/deps installs it)";
  }
  for (const char* name : {"arm64", "x86_64"}) {
    writeFile(path_, machObject(name));
    auto file = reader_.getNonFatBinaryFileAtPath(path_, &error);
    ASSERT_TRUE(file) << error.localizedDescription();
    EXPECT_EQ(file->architecture().name(), name);
  }
  for (const char* name : {"arm64e", "x86_64h"}) {
    writeFile(path_, machObject(name));
    EXPECT_FALSE(reader_.getNonFatBinaryFileAtPath(path_, &error)) << name;
    EXPECT_EQ(error.domain(), BinaryReaderErrorDomain);
    EXPECT_EQ(error.code(), 3);
    EXPECT_EQ(error.localizedDescription(), "Unsupported architecture");
  }
}

TEST(LRArchitectureTests, KnowsOnlyTheTwoGenericArchitectures) {
  EXPECT_EQ(LRArchitecture::getArchitectureByCpuType(kArm64, 0x80000000), LRArchitecture::_arm64());
  EXPECT_EQ(LRArchitecture::getArchitectureByCpuType(kX86_64, 0x80000003),
            LRArchitecture::_x86_64());
  EXPECT_FALSE(LRArchitecture::getArchitectureByCpuType(kArm64, 2));  // arm64e
  EXPECT_FALSE(LRArchitecture::getArchitectureByCpuType(kX86_64, 8)); // x86_64h
  EXPECT_FALSE(LRArchitecture::getArchitectureByCpuType(7, 3));       // i386
}

} // namespace
} // namespace lipo::test
