#include "platform/foundation/LogText.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(LogText, EscapesWhatCouldForgeOrHideALine) {
  EXPECT_EQ(escapedForLog("/usr/lib/libc.so.6"), "/usr/lib/libc.so.6");
  EXPECT_EQ(escapedForLog("a\nPrivilegedAgent[Agent] info: forged"),
            "a\\x0APrivilegedAgent[Agent] info: forged");
  EXPECT_EQ(escapedForLog(std::string("tab\tnul\0del\x7F", 12)), "tab\\x09nul\\x00del\\x7F");
  EXPECT_EQ(escapedForLog("back\\slash"), "back\\\\slash");
  // Valid UTF-8 stays readable; bytes that are not UTF-8 are shown as such.
  EXPECT_EQ(escapedForLog("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(escapedForLog("bad\xFF\xC3"), "bad\\xFF\\xC3");
  EXPECT_EQ(escapedForLog(""), "");
}

TEST(LogText, AQuotedFieldCannotEndEarlyAndShowsAtMostItsBound) {
  EXPECT_EQ(quotedForLog("/x\" outcome=success"), "\"/x\\x22 outcome=success\"");
  EXPECT_EQ(quotedForLog("abcdef", 6), "\"abcdef\"");
  EXPECT_EQ(quotedForLog("abcdef", 4), "\"abcd...(2 more bytes)\"");
  // The cut falls back to the start of a character ("\xC3\xA9" is one).
  EXPECT_EQ(quotedForLog("caf\xC3\xA9!", 4), "\"caf...(3 more bytes)\"");
}

} // namespace
} // namespace platform
