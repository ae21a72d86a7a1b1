#include "platform/foundation/Base64.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Base64, EncodesWithPaddingForEveryRemainder) {
  EXPECT_EQ(base64Encode(std::string_view("")), "");
  EXPECT_EQ(base64Encode(std::string_view("f")), "Zg==");
  EXPECT_EQ(base64Encode(std::string_view("fo")), "Zm8=");
  EXPECT_EQ(base64Encode(std::string_view("foo")), "Zm9v");
  EXPECT_EQ(base64Encode(std::string_view("foob")), "Zm9vYg==");
}

TEST(Base64, RoundTripsAllByteValues) {
  Bytes all;
  for (int i = 0; i < 256; ++i) {
    all.push_back(static_cast<uint8_t>(i));
  }
  for (size_t length = 0; length < all.size(); length += 37) {
    Bytes part(all.begin(), all.begin() + static_cast<long>(length));
    EXPECT_EQ(base64Decode(base64Encode(part)), part);
  }
}

TEST(Base64, RejectsMalformedText) {
  EXPECT_FALSE(base64Decode("Zg="));      // length not a multiple of four
  EXPECT_FALSE(base64Decode("Z==="));     // three padding characters
  EXPECT_FALSE(base64Decode("Zm9v!A==")); // character outside the alphabet
  EXPECT_FALSE(base64Decode("Zg==Zg==")); // padding before the end
  EXPECT_FALSE(base64Decode("Zm9\nv"));
  EXPECT_FALSE(base64Decode("===="));     // nothing but padding
  EXPECT_FALSE(base64Decode("Zm9v=g==")); // padding inside the last quantum
  EXPECT_FALSE(base64Decode("Zm!vZm9v")); // a bad character in an early quantum
}

} // namespace
} // namespace platform
