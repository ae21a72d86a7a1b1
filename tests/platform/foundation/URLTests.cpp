#include "platform/foundation/URL.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(URL, FileURLsPercentEncodeTheirPath) {
  URL url = URL::fileURLWithPath("/tmp/a b/ü%?#");
  EXPECT_EQ(url.absoluteString(), "file:///tmp/a%20b/%C3%BC%25%3F%23");
  EXPECT_TRUE(url.isFileURL());
  EXPECT_EQ(url.path(), "/tmp/a b/ü%?#");
  EXPECT_EQ(url.lastPathComponent(), "ü%?#");
}

TEST(URL, PathDropsQueryFragmentHostAndTrailingSlash) {
  EXPECT_EQ(URL::fromString("file:///Library/LaunchAgents/")->path(), "/Library/LaunchAgents");
  EXPECT_EQ(URL::fromString("file://localhost/a/b?x=1#frag")->path(), "/a/b");
  EXPECT_EQ(URL::fromString("file:///")->path(), "/");
  EXPECT_EQ(URL::fromString("https://example.invalid/p")->scheme(), "https");
}

TEST(URL, RejectsTextThatIsNotAURL) {
  EXPECT_FALSE(URL::fromString(""));
  EXPECT_FALSE(URL::fromString("file:///a b"));
  EXPECT_FALSE(URL::fromString("file:///a%2"));
  EXPECT_FALSE(URL::fromString("file:///a%zz"));
  EXPECT_FALSE(URL::fromString("file:///a\nb"));
  EXPECT_TRUE(URL::fromString("relative/path"));
}

TEST(URL, PathIsEmptyWhenTheDecodedBytesAreNotUTF8) {
  EXPECT_EQ(URL::fromString("file:///tmp/%FF%FE")->path(), "");
  EXPECT_EQ(URL::fromString("file:///tmp/%0A")->path(), "/tmp/\n");
}

TEST(UTF8, RejectsOverlongSurrogateAndTruncatedSequences) {
  EXPECT_TRUE(isValidUTF8("plain ü €  𝄞"));
  EXPECT_FALSE(isValidUTF8("\xC0\xAF"));
  EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));
  EXPECT_FALSE(isValidUTF8("\xE2\x82"));
  EXPECT_FALSE(isValidUTF8("\xF4\x90\x80\x80"));
}

TEST(URLFileSystemPath, OnlyFileURLsNameFilesAndTheirNamesAreBytes) {
  auto pathOf = [](const char* text) -> std::optional<std::string> {
    auto url = URL::fromString(text);
    return url ? url->fileSystemPath() : std::nullopt;
  };
  EXPECT_EQ(pathOf("file:///dir/%FF%FE"), std::string("/dir/\xFF\xFE"));
  EXPECT_EQ(pathOf("file:///dir/a%20b/"), "/dir/a b");
  EXPECT_EQ(pathOf("file:///"), "/");
  EXPECT_EQ(pathOf("FILE://localhost/etc/hosts"), "/etc/hosts");
  EXPECT_FALSE(pathOf("http://example.com/etc/passwd"));
  EXPECT_FALSE(pathOf("relative/file"));
  EXPECT_FALSE(pathOf("file:///tmp%00/x"));
  EXPECT_FALSE(pathOf("file:///tmp/%G1"));
}

} // namespace
} // namespace platform
