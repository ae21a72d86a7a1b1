#include "utilities/CapturedText.h"
#include "utilities/PathComponents.h"
#include "utilities/SafeLabel.h"

#include <gtest/gtest.h>
#include <vector>

namespace utilities {
namespace {

TEST(SafeLabel, OnlySingleFileNamesAreSafe) {
  EXPECT_TRUE(isSafeLabel("com.example.helper"));
  EXPECT_TRUE(isSafeLabel("...")); // an odd but harmless name
  for (const std::string& label :
       std::vector<std::string>{"", ".", "..", "a/b", "/", "../x", std::string("a\0b", 3)}) {
    EXPECT_FALSE(isSafeLabel(label)) << label;
  }
}

TEST(SafeLabel, LabelOfAJobFileIsItsNameWithoutExtension) {
  EXPECT_EQ(labelFromJobFilePath("/Library/LaunchDaemons/com.example.helper.plist"),
            "com.example.helper");
  EXPECT_EQ(labelFromJobFilePath("/Library/LaunchDaemons/..plist"), ".");
  EXPECT_FALSE(isSafeLabel(labelFromJobFilePath("/Library/LaunchDaemons/..plist")));
}

TEST(PathComponents, FollowThePlatformsPathSemantics) {
  EXPECT_EQ(lastPathComponent("/Library/LaunchDaemons/com.a.plist"), "com.a.plist");
  EXPECT_EQ(lastPathComponent("/a/b/"), "b");
  EXPECT_EQ(lastPathComponent("/"), "/");
  EXPECT_EQ(deletingLastPathComponent("/a/b"), "/a");
  EXPECT_EQ(deletingLastPathComponent("/a"), "/");
  EXPECT_EQ(deletingLastPathComponent("name"), "");
  EXPECT_EQ(deletingPathExtension("com.example.job.plist"), "com.example.job");
  EXPECT_EQ(deletingPathExtension(".plist"), ".plist");
  EXPECT_EQ(deletingPathExtension("..plist"), ".");
  EXPECT_EQ(appendingPathComponent("/a/", "b"), "/a/b");
}

TEST(CapturedText, BlankIsNoneAndOtherBytesAreKept) {
  EXPECT_EQ(capturedText(""), std::nullopt);
  EXPECT_EQ(capturedText(" \n\t\r\v\f\xC2\xA0\xE2\x80\xA8"), std::nullopt);
  EXPECT_EQ(capturedText("  x \n"), "  x \n");
  // Output in another encoding still counts as output.
  EXPECT_EQ(capturedText("\xff\n"), "\xEF\xBF\xBD\n");
  EXPECT_EQ(capturedText("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
} // namespace utilities
