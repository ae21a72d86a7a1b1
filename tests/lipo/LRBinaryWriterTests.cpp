#include "LipoTestSupport.h"
#include "lipo/FatFormat.h"
#include "lipo/LRBinaryReader.h"
#include "lipo/LRBinaryWriter.h"
#include "lipo/LipoErrors.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lipo::test {
namespace {

using platform::NSError;

Bytes pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t index = 0; index < size; ++index) {
    bytes[index] = uint8_t(seed + index * 7);
  }
  return bytes;
}

fat::Record recordAt(const Bytes& file, bool fat64, size_t index) {
  return fat::decodeRecord(file.data() + 8 + index * fat::recordSize(fat64), fat64);
}

Bytes range(const Bytes& file, uint64_t offset, uint64_t size) {
  return Bytes(file.begin() + long(offset), file.begin() + long(offset + size));
}

// A source that claims more bytes than it has; the layout refuses it before any read.
class HugeSource final : public ByteSource {
public:
  uint64_t size() const override { return uint64_t(5) << 30; }
  int read(uint64_t, void*, size_t) const override { return EIO; }
  int copyTo(uint64_t, uint64_t, int, uint64_t) const override { return EIO; }
};

class LRBinaryWriterTests : public ::testing::Test {
protected:
  // Writes `original` at path_, then rewrites it with `slices`.
  bool rewrite(const std::vector<LRThinFile>& slices, bool fat64, NSError* error,
               const Bytes& original = Bytes(64, 0x5A)) {
    writeFile(path_, original, 0751);
    return writer_.rewriteFatBinaryFile(LRFatBinaryFile(path_, fat64, slices), error);
  }
  void expectOriginalIntact(const Bytes& original) {
    EXPECT_EQ(readFile(path_), original);
    EXPECT_FALSE(hasTemporaryBeside(path_));
  }

  TemporaryDirectory directory_;
  std::string path_ = directory_.file("Binary");
  LRBinaryWriter writer_;
};

TEST_F(LRBinaryWriterTests, WritesThe64BitFormatWithZeroReservedFields) {
  const Bytes arm = pattern(300, 1);
  const Bytes x86 = pattern(200, 2);
  NSError error;
  ASSERT_TRUE(rewrite(
      {LRThinFile::withData(x86, kX86_64, 3, 0, 12), LRThinFile::withData(arm, kArm64, 0, 0, 14)},
      true, &error))
      << error.localizedDescription();
  const Bytes file = readFile(path_);
  EXPECT_EQ(fat::loadBig32(file.data()), fat::kMagic64);
  EXPECT_EQ(fat::loadBig32(file.data() + 4), 2u);
  // Largest alignment first; the arm64 record goes last.
  const fat::Record first = recordAt(file, true, 0);
  const fat::Record second = recordAt(file, true, 1);
  EXPECT_EQ(first.cpuType, kX86_64);
  EXPECT_EQ(first.offset, 20480u); // 16384 + 300, rounded up to 4096
  EXPECT_EQ(second.cpuType, kArm64);
  EXPECT_EQ(second.offset, 16384u);
  EXPECT_EQ(fat::loadBig32(file.data() + 8 + 28), 0u);
  EXPECT_EQ(fat::loadBig32(file.data() + 8 + 32 + 28), 0u);
  EXPECT_EQ(range(file, second.offset, second.size), arm);
  EXPECT_EQ(range(file, first.offset, first.size), x86);
  EXPECT_EQ(file.size(), first.offset + first.size);
}

TEST_F(LRBinaryWriterTests, AlignsASliceAfterThe32BitHeader) {
  const Bytes arm = pattern(100, 3);
  NSError error;
  ASSERT_TRUE(rewrite({LRThinFile::withData(arm, kArm64, 0, 0, 14)}, false, &error));
  const Bytes file = readFile(path_);
  EXPECT_EQ(fat::loadBig32(file.data()), fat::kMagic32);
  EXPECT_EQ(recordAt(file, false, 0).offset, 16384u);
  EXPECT_EQ(file.size(), 16384u + 100u);
  EXPECT_EQ(range(file, 28, 16384 - 28), Bytes(16384 - 28, 0)); // the gap reads as zeros
}

TEST_F(LRBinaryWriterTests, PutsTheArm64AndX86_64hRecordsLast) {
  NSError error;
  ASSERT_TRUE(rewrite({LRThinFile::withData(pattern(10, 4), kX86_64, 8, 0, 4),
                       LRThinFile::withData(pattern(10, 5), kArm64, 0, 0, 4),
                       LRThinFile::withData(pattern(10, 6), kX86_64, 3, 0, 4)},
                      false, &error));
  const Bytes file = readFile(path_);
  const fat::Record x86 = recordAt(file, false, 0);
  const fat::Record arm = recordAt(file, false, 1);
  const fat::Record x86h = recordAt(file, false, 2);
  EXPECT_EQ(x86.cpuSubType, 3);
  EXPECT_EQ(arm.cpuType, kArm64);
  EXPECT_EQ(x86h.cpuSubType, 8);
  // The data keep the sorted (here: given) order.
  EXPECT_LT(x86h.offset, arm.offset);
  EXPECT_LT(arm.offset, x86.offset);
  EXPECT_EQ(range(file, x86h.offset, 10), pattern(10, 4));
}

TEST_F(LRBinaryWriterTests, RefusesOffsetsBeyondThe32BitFormat) {
  const Bytes original(64, 0x5A);
  std::vector<LRThinFile> slices{
      LRThinFile(kArm64, 0, 0, uint64_t(5) << 30, 0, std::make_shared<HugeSource>(), 0)};
  NSError error;
  EXPECT_FALSE(rewrite(slices, false, &error, original));
  EXPECT_EQ(error.domain(), BinaryWriterErrorDomain);
  EXPECT_EQ(error.code(), 2);
  EXPECT_EQ(error.localizedDescription(), "NSRangeException");
  expectOriginalIntact(original);
}

TEST_F(LRBinaryWriterTests, ReportsAMissingFile) {
  NSError error;
  const std::string missing = directory_.file("missing");
  EXPECT_FALSE(writer_.rewriteFatBinaryFile(LRFatBinaryFile(missing, false, {}), &error));
  EXPECT_EQ(error.domain(), BinaryWriterErrorDomain);
  EXPECT_EQ(error.code(), 1);
  EXPECT_EQ(error.localizedDescription(), "Can't read stat at file: " + missing);
}

TEST_F(LRBinaryWriterTests, NeverTouchesFilesItDidNotCreate) {
  // What lies beside the file under any name, even "<name>.lipo", stays as it was.
  const Bytes unrelated = pattern(40, 3);
  writeFile(path_ + ".lipo", unrelated);
  ASSERT_EQ(::mkdir(directory_.file(".Binary.lipo").c_str(), 0700), 0);
  NSError error;
  ASSERT_TRUE(rewrite({LRThinFile::withData(pattern(10, 8), kArm64, 0, 0, 4)}, false, &error))
      << error.localizedDescription();
  EXPECT_EQ(readFile(path_ + ".lipo"), unrelated);
  EXPECT_TRUE(exists(directory_.file(".Binary.lipo")));
  EXPECT_FALSE(hasTemporaryBeside(path_));
}

TEST_F(LRBinaryWriterTests, NeverWritesThroughALinkAtTheTemporaryName) {
  const Bytes victim = pattern(50, 7);
  const std::string victimPath = directory_.file("victim");
  writeFile(victimPath, victim);
  ASSERT_EQ(::symlink(victimPath.c_str(), (path_ + ".lipo").c_str()), 0);
  NSError error;
  ASSERT_TRUE(rewrite({LRThinFile::withData(pattern(10, 8), kArm64, 0, 0, 4)}, false, &error))
      << error.localizedDescription();
  EXPECT_EQ(readFile(victimPath), victim);
  EXPECT_TRUE(exists(path_ + ".lipo")); // the link stays: it is not ours
  EXPECT_FALSE(hasTemporaryBeside(path_));
  EXPECT_EQ(recordAt(readFile(path_), false, 0).cpuType, kArm64);
}

TEST_F(LRBinaryWriterTests, KeepsTheOriginalWhenTheSourceShrinksMidWay) {
  // The slices come from another file that is cut short before they are copied.
  const std::string sourcePath = directory_.file("source");
  writeFile(sourcePath, fatFile(false, {{kArm64, 0, 4096, 8192, 12, pattern(8192, 9)}}));
  NSError error;
  auto source = LRBinaryReader().getFatBinaryFileAtPath(sourcePath, &error);
  ASSERT_TRUE(source);
  ASSERT_EQ(::truncate(sourcePath.c_str(), 6000), 0);
  const Bytes original = pattern(64, 10);
  writeFile(path_, original);
  EXPECT_FALSE(
      writer_.rewriteFatBinaryFile(LRFatBinaryFile(path_, false, source->thinFiles()), &error));
  EXPECT_EQ(error.domain(), BinaryWriterErrorDomain);
  EXPECT_EQ(error.code(), 2);
  EXPECT_EQ(error.localizedDescription(), "NSFileHandleOperationException");
  expectOriginalIntact(original);
}

TEST_F(LRBinaryWriterTests, RefusesToReplaceAFileThatTookThePathAfterReading) {
  writeFile(path_, fatFile(false, {{kArm64, 0, 64, 16, 6, pattern(16, 14)}}), 0600);
  NSError error;
  auto read = LRBinaryReader().getFatBinaryFileAtPath(path_, &error);
  ASSERT_TRUE(read);
  // Another file is moved to the path: it must not get the first file's contents.
  const Bytes other = pattern(40, 15);
  writeFile(directory_.file("other"), other, 0644);
  ASSERT_EQ(::rename(directory_.file("other").c_str(), path_.c_str()), 0);
  EXPECT_FALSE(writer_.rewriteFatBinaryFile(*read, &error));
  EXPECT_EQ(error.domain(), BinaryWriterErrorDomain);
  EXPECT_EQ(error.code(), 1);
  expectOriginalIntact(other);
}

TEST_F(LRBinaryWriterTests, KeepsTheOriginalWhenWritingFailsMidWay) {
  const Bytes original = pattern(64, 11);
  writeFile(path_, original);
  // In a child whose files may not grow past 32 KiB, writing a 64 KiB slice fails part-way.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{32768, 32768};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    NSError error;
    const bool written = LRBinaryWriter().rewriteFatBinaryFile(
        LRFatBinaryFile(path_, false, {LRThinFile::withData(pattern(65536, 12), kArm64, 0, 0, 12)}),
        &error);
    ::_exit(!written && error.domain() == BinaryWriterErrorDomain && error.code() == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  expectOriginalIntact(original);
}

TEST_F(LRBinaryWriterTests, KeepsOwnerGroupAndPermissionBits) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "changing the owner of a file needs root";
  }
  writeFile(path_, {1, 2, 3});
  ASSERT_EQ(::chown(path_.c_str(), 1234, 5678), 0);
  ASSERT_EQ(::chmod(path_.c_str(), 04755), 0);
  NSError error;
  ASSERT_TRUE(writer_.rewriteFatBinaryFile(
      LRFatBinaryFile(path_, false, {LRThinFile::withData(pattern(10, 13), kArm64, 0, 0, 4)}),
      &error))
      << error.localizedDescription();
  struct stat status {};
  ASSERT_EQ(::stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 1234u);
  EXPECT_EQ(status.st_gid, 5678u);
  EXPECT_EQ(status.st_mode & 07777, 04755u);
}

} // namespace
} // namespace lipo::test
