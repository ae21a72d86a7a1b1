#include "LipoTestSupport.h"
#include "lipo/FatFormat.h"
#include "lipo/LRLipo.h"
#include "lipo/LipoErrors.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace lipo::test {
namespace {

using platform::NSError;

// Thinning and selection on real universal files that llvm-lipo builds and then checks.
class LRLipoTests : public ::testing::Test {
protected:
  void SetUp() override {
    if (!haveRealTools()) {
      GTEST_SKIP() << "clang or llvm-lipo is missing (scripts/deps installs them)";
    }
  }
  // A universal file at `name` made by llvm-lipo from the given objects.
  std::string universal(const std::string& name, const std::vector<std::string>& architectures) {
    std::vector<std::string> argv{*llvmLipoPath(), "-create"};
    for (const std::string& architecture : architectures) {
      const std::string object = directory_.file(architecture + ".o");
      writeFile(object, machObject(architecture));
      argv.push_back(object);
    }
    const std::string path = directory_.file(name);
    argv.insert(argv.end(), {"-output", path});
    EXPECT_EQ(run(argv), 0);
    return path;
  }
  // The same slices in the 64-bit format, which llvm-lipo cannot write.
  std::string universal64(const std::string& name, const std::vector<std::string>& architectures) {
    std::vector<Slice> slices;
    uint64_t offset = 16384;
    for (const std::string& architecture : architectures) {
      const Bytes& object = machObject(architecture);
      slices.push_back({int32_t(fat::loadLittle32(object.data() + 4)),
                        int32_t(fat::loadLittle32(object.data() + 8)), offset, object.size(), 14,
                        object});
      offset += 16384 * ((object.size() + 16383) / 16384);
    }
    const std::string path = directory_.file(name);
    writeFile(path, fatFile(true, slices));
    return path;
  }
  std::string lipoOutput(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{*llvmLipoPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(run(argv, &output), 0);
    return output;
  }

  TemporaryDirectory directory_;
  LRLipo lipo_;
};

TEST_F(LRLipoTests, ThinsToTheNamedSliceAsLlvmLipoExtractDoes) {
  for (const std::string architecture : {"arm64", "x86_64"}) {
    const std::string path = universal("Universal-" + architecture, {"x86_64", "arm64"});
    ASSERT_EQ(::chmod(path.c_str(), 0750), 0);
    const std::string expected = directory_.file("expected-" + architecture);
    lipoOutput({path, "-extract", architecture, "-output", expected});

    NSError error;
    ASSERT_TRUE(lipo_.removeUnnecessaryThinFilesFromBinaryAtPath(path, architecture, &error))
        << error.localizedDescription();
    EXPECT_EQ(lipoOutput({path, "-archs"}), architecture + " \n");
    lipoOutput({path, "-verify_arch", architecture});
    EXPECT_EQ(readFile(path), readFile(expected)) << architecture;
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750u);
    EXPECT_FALSE(hasTemporaryBeside(path));
  }
}

TEST_F(LRLipoTests, KeepsThe64BitFormat) {
  const std::string path = universal64("Universal64", {"x86_64", "x86_64h", "arm64"});
  NSError error;
  ASSERT_TRUE(lipo_.removeUnnecessaryThinFilesFromBinaryAtPath(path, "x86_64", &error))
      << error.localizedDescription();
  const Bytes file = readFile(path);
  EXPECT_EQ(fat::loadBig32(file.data()), fat::kMagic64);
  EXPECT_EQ(lipoOutput({path, "-archs"}), "x86_64 \n");
  const std::string thin = directory_.file("thin");
  lipoOutput({path, "-thin", "x86_64", "-output", thin});
  EXPECT_EQ(readFile(thin), machObject("x86_64"));
}

TEST_F(LRLipoTests, LeavesAFileWithoutTheNamedSliceUnchanged) {
  const std::string path = universal("Universal", {"x86_64", "arm64e"});
  const Bytes before = readFile(path);
  NSError error;
  EXPECT_FALSE(lipo_.removeUnnecessaryThinFilesFromBinaryAtPath(path, "arm64", &error));
  EXPECT_EQ(error.domain(), LipoErrorDomain);
  EXPECT_EQ(error.code(), 2);
  EXPECT_EQ(error.localizedDescription(), "Binary haven't compatible architecture");
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(hasTemporaryBeside(path));

  const std::string thin = directory_.file("arm64.o");
  writeFile(thin, machObject("arm64"));
  EXPECT_FALSE(lipo_.removeUnnecessaryThinFilesFromBinaryAtPath(thin, "arm64", &error));
  EXPECT_EQ(error.domain(), BinaryReaderErrorDomain);
  EXPECT_EQ(error.code(), 2);
  EXPECT_EQ(error.localizedDescription(), "This file isn't fat binary");
  EXPECT_EQ(readFile(thin), machObject("arm64"));
}

TEST_F(LRLipoTests, ChoosesTheArchitectureThisMachineRuns) {
  NSError error;
  auto both =
      lipo_.compatibleArchitectureForBinaryAtPath(universal("Both", {"x86_64", "arm64"}), &error);
  ASSERT_TRUE(both);
  EXPECT_EQ(both->name(), "arm64");
  auto intel = lipo_.compatibleArchitectureForBinaryAtPath(
      universal("Intel", {"x86_64h", "x86_64"}), &error);
  ASSERT_TRUE(intel);
  EXPECT_EQ(intel->name(), "x86_64");
  const std::string thin = directory_.file("thin");
  writeFile(thin, machObject("x86_64"));
  auto single = lipo_.compatibleArchitectureForBinaryAtPath(thin, &error);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->name(), "x86_64");

  EXPECT_FALSE(lipo_.compatibleArchitectureForBinaryAtPath(universal("Odd", {"arm64e"}), &error));
  EXPECT_EQ(error.domain(), LipoErrorDomain);
  EXPECT_EQ(error.code(), 4);
  EXPECT_EQ(error.localizedDescription(), "Compatible architecture not found");
}

TEST_F(LRLipoTests, ListsTheSlicesThatAreNotNeeded) {
  const std::vector<LRArchitecture> arm64{LRArchitecture::_arm64()};
  NSError error;
  auto unneeded = lipo_.getUnnecessaryThinFilesForBinaryAtPath(
      universal("Both", {"x86_64", "arm64", "arm64e"}), arm64, &error);
  ASSERT_TRUE(unneeded);
  ASSERT_EQ(unneeded->size(), 2u);
  EXPECT_EQ((*unneeded)[0].cpuType(), kX86_64);
  EXPECT_EQ((*unneeded)[1].cpuSubType(), 2); // arm64e

  EXPECT_FALSE(
      lipo_.getUnnecessaryThinFilesForBinaryAtPath(universal("Intel", {"x86_64"}), arm64, &error));
  EXPECT_EQ(error.code(), 2);

  const std::string thin = directory_.file("thin");
  writeFile(thin, machObject("arm64"));
  auto none = lipo_.getUnnecessaryThinFilesForBinaryAtPath(thin, arm64, &error);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
  writeFile(thin, machObject("x86_64"));
  EXPECT_FALSE(lipo_.getUnnecessaryThinFilesForBinaryAtPath(thin, arm64, &error));
  EXPECT_EQ(error.domain(), LipoErrorDomain);
  EXPECT_EQ(error.code(), 3);
}

} // namespace
} // namespace lipo::test
