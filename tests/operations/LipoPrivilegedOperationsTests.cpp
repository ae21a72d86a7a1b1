#include "lipo/FatFormat.h"
#include "lipo/LipoErrors.h"
#include "lipo/LipoTestSupport.h"
#include "operations/LipoPrivilegedOperations.h"

#include <gtest/gtest.h>

namespace operations {
namespace {

using namespace lipo::test;

platform::NSError thrownError(const std::function<void()>& body) {
  try {
    body();
  } catch (const platform::NSErrorException& error) {
    return error.error();
  }
  return platform::NSError("<no error>", 0);
}

class LipoPrivilegedOperationsTests : public ::testing::Test {
protected:
  // A universal file made by llvm-lipo from real arm64 and x86_64 objects.
  std::string universal(const std::string& name) {
    std::vector<std::string> argv{*llvmLipoPath(), "-create"};
    for (const char* architecture : {"x86_64", "arm64"}) {
      const std::string object = directory_.file(std::string(architecture) + ".o");
      writeFile(object, machObject(architecture));
      argv.push_back(object);
    }
    const std::string path = directory_.file(name);
    argv.insert(argv.end(), {"-output", path});
    EXPECT_EQ(run(argv), 0);
    return path;
  }

  TemporaryDirectory directory_;
  LipoPrivilegedOperations operations_;
};

TEST_F(LipoPrivilegedOperationsTests, KeepsOnlyTheNamedSlice) {
  if (!haveRealTools()) {
    GTEST_SKIP() << "clang or llvm-lipo is missing (scripts/deps installs them)";
  }
  const std::string path = universal("Universal");
  EXPECT_TRUE(
      operations_.removeUnnecessaryThinFiles(platform::URL::fileURLWithPath(path), "arm64"));
  const platform::Bytes thinned = readFile(path);
  ASSERT_GE(thinned.size(), 8u);
  EXPECT_EQ(lipo::fat::loadBig32(thinned.data() + 4), 1u); // one slice record is left
}

TEST_F(LipoPrivilegedOperationsTests, ThrowsTheReaderErrorForAFileThatIsNotUniversal) {
  const std::string path = directory_.file("plain");
  writeFile(path, platform::Bytes(64, 0x41));
  auto error = thrownError([&] {
    operations_.removeUnnecessaryThinFiles(platform::URL::fileURLWithPath(path), "arm64");
  });
  EXPECT_EQ(error.domain(), lipo::BinaryReaderErrorDomain);
  EXPECT_EQ(error.code(), 2);
  EXPECT_EQ(error.localizedDescription(), "This file isn't fat binary");
}

TEST_F(LipoPrivilegedOperationsTests, ThrowsCodeTwoAndLeavesTheFileForAMissingArchitecture) {
  if (!haveRealTools()) {
    GTEST_SKIP() << "clang or llvm-lipo is missing (scripts/deps installs them)";
  }
  const std::string path = universal("Universal");
  const platform::Bytes before = readFile(path);
  auto error = thrownError(
      [&] { operations_.removeUnnecessaryThinFiles(platform::URL::fileURLWithPath(path), "ppc"); });
  EXPECT_EQ(error.domain(), lipo::LipoErrorDomain);
  EXPECT_EQ(error.code(), 2);
  EXPECT_EQ(readFile(path), before);
}

} // namespace
} // namespace operations
