#include "ChildProcess.h"
#include "SecurityFixture.h"

#include <gtest/gtest.h>

namespace platform::security {
namespace {

using namespace testing;

TEST(CodeSignToolTest, SignsVerifiesAndDisplays) {
  const SecurityWorld& w = world();
  std::string path = copyProgram(SECURITY_TEST_PROGRAM, "tool");
  std::string output;
  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--identifier", "com.quillby.Lumora5", "--key",
                        w.intermediateLeaf.keyPath, "--cert", w.intermediateLeaf.certificatePath,
                        "--chain", w.chainPath, path}),
            0);
  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--verify", "--anchors", w.anchorsDirectory,
                        "--requirement", kMainAppRequirement, path},
                       &output),
            0);
  EXPECT_NE(output.find("satisfies its requirement"), std::string::npos);
  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--verify", "--anchors", w.anchorsDirectory,
                        "--requirement", kMenuRequirement, path}),
            1);
  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--display", "--anchors", w.anchorsDirectory, path},
                       &output),
            0);
  EXPECT_NE(output.find("Identifier=com.quillby.Lumora5\n"), std::string::npos) << output;
  EXPECT_NE(output.find("TeamIdentifier=Q4W7ZK2M9T\n"), std::string::npos);
  EXPECT_NE(output.find("Info.CFBundleShortVersionString=1.4.2\n"), std::string::npos);
  EXPECT_NE(output.find("Validity=valid\n"), std::string::npos);

  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--verify", "--anchors", w.anchorsDirectory,
                        copyProgram(SECURITY_TEST_PROGRAM, "tool-unsigned")}),
            1);
  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--identifier", "x", path}), 2);
  EXPECT_EQ(runProgram({AGENT_CODESIGN_TOOL, "--verify", "--bogus", path}), 2);
}

} // namespace
} // namespace platform::security
