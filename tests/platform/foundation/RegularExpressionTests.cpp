#include "platform/foundation/RegularExpression.h"

#include <chrono>
#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(RegularExpression, CapturesGroupsCaseInsensitively) {
  auto expression = RegularExpression::make(R"((\S+)\s+attribute:\s+(\S+):\s([\S\s]*))",
                                            RegularExpression::kCaseInsensitive);
  ASSERT_TRUE(expression);
  EXPECT_EQ(expression->numberOfCaptureGroups(), 3u);
  auto match = expression->firstMatch("_computerlevel[1] ATTRIBUTE: name: A: b c");
  ASSERT_TRUE(match);
  ASSERT_EQ(match->numberOfRanges(), 4u);
  EXPECT_EQ(*match->group(1), "_computerlevel[1]");
  EXPECT_EQ(*match->group(2), "name");
  EXPECT_EQ(*match->group(3), "A: b c");
}

TEST(RegularExpression, UnderscoreEscapesAndUnicodeWordsAreThePlatformsSyntax) {
  auto expression = RegularExpression::make(R"(\/([\w\d\_\-\.]+)+)");
  ASSERT_TRUE(expression);
  auto match = expression->firstMatch("run /opt/caf\xC3\xA9_tool-1.sh now");
  ASSERT_TRUE(match);
  EXPECT_EQ(*match->group(0), "/opt");
  auto all = expression->matches("run /opt/caf\xC3\xA9_tool-1.sh now");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(*all[1].group(0), "/caf\xC3\xA9_tool-1.sh");
}

TEST(RegularExpression, OptionalGroupsThatDidNotTakePartAreNone) {
  auto expression = RegularExpression::make("(a)|(b)");
  ASSERT_TRUE(expression);
  auto match = expression->firstMatch("b");
  ASSERT_TRUE(match);
  EXPECT_FALSE(match->group(1));
  EXPECT_EQ(*match->group(2), "b");
}

TEST(RegularExpression, EmptyMatchesAdvanceAndReplacementIsLiteral) {
  auto empty = RegularExpression::make("x*");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->matches("ab").size(), 3u);
  auto bracketed = RegularExpression::make(R"(\[\d+\])");
  ASSERT_TRUE(bracketed);
  EXPECT_EQ(bracketed->replacingMatches("alice[12][3]x[]", ""), "alicex[]");
  EXPECT_EQ(bracketed->replacingMatches("a[1]", "$0\\1"), "a$0\\1");
}

TEST(RegularExpression, InvalidPatternReportsAnError) {
  NSError error;
  EXPECT_FALSE(RegularExpression::make("(unclosed", RegularExpression::kNone, &error));
  EXPECT_EQ(error.domain(), NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), 2048);
}

TEST(RegularExpression, LongHostileLinesTakeLinearTime) {
  // Nested repetition that a backtracking engine explores exponentially.
  auto expression = RegularExpression::make(R"(^(\/([\w\-\.]?( )?)+)+["']$)");
  ASSERT_TRUE(expression);
  const std::string line = "/" + std::string(200000, 'a') + "!";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(expression->firstMatch(line));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace platform
