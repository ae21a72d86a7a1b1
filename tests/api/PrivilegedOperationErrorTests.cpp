#include "api/PrivilegedOperationError.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace api {
namespace {

using platform::NSError;

TEST(PrivilegedOperationErrorTest, FlattensAnyErrorAndBridgesBack) {
  NSError original("D", 7, {{platform::NSLocalizedDescriptionKey, std::string("T")}});
  auto record = PrivilegedOperationError::from(platform::NSErrorException(original));
  EXPECT_EQ(record, PrivilegedOperationError(7, "D", "T"));

  NSError bridged = record.toNSError();
  EXPECT_EQ(bridged.domain(), "com.quillby.lumora.PrivilegedOperationError");
  EXPECT_EQ(bridged.code(), 7);
  EXPECT_EQ(bridged.localizedDescription(), "T");
  EXPECT_EQ(bridged.stringForKey("PrivilegedOperationErrorOriginalDomain"), "D");
  EXPECT_EQ(bridged.userInfo().size(), 2u);
}

TEST(PrivilegedOperationErrorTest, NoDoubleWrapping) {
  PrivilegedOperationError record(2, "NSPOSIXErrorDomain", "gone");
  EXPECT_EQ(PrivilegedOperationError::from(record), record);
  EXPECT_EQ(PrivilegedOperationError::from(std::make_exception_ptr(record)), record);
}

TEST(PrivilegedOperationErrorTest, OtherFailures) {
  auto posix = PrivilegedOperationError::from(NSError::posix(ENOENT));
  EXPECT_EQ(posix.domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(posix.code, ENOENT);
  EXPECT_EQ(posix.description, "The operation couldn’t be completed. No such file or directory");

  auto foreign =
      PrivilegedOperationError::from(std::make_exception_ptr(std::runtime_error("boom")));
  EXPECT_EQ(foreign.description, "boom");
  auto unknown = PrivilegedOperationError::from(std::make_exception_ptr(42));
  EXPECT_FALSE(unknown.description.empty());
  // Descriptions that quote file names with foreign bytes still become valid JSON text.
  auto named = PrivilegedOperationError::from(
      NSError("D", 1, {{platform::NSLocalizedDescriptionKey, std::string("file \xC3")}}));
  EXPECT_EQ(named.description, "file \xEF\xBF\xBD");
}

TEST(PrivilegedOperationErrorTest, CodingRequiresAllThreeKeys) {
  const auto& decoder = platform::sharedJSONDecoder();
  PrivilegedOperationError record(-1, "D", "T");
  EXPECT_EQ(platform::sharedJSONEncoder().encode(record),
            R"({"code":-1,"description":"T","domain":"D"})");
  EXPECT_EQ(
      decoder.decode<PrivilegedOperationError>(R"({"code":-1,"description":"T","domain":"D"})"),
      record);
  EXPECT_THROW(decoder.decode<PrivilegedOperationError>(R"({"code":-1,"domain":"D"})"),
               platform::DecodingError);
  EXPECT_THROW(
      decoder.decode<PrivilegedOperationError>(R"({"code":"1","description":"T","domain":"D"})"),
      platform::DecodingError);
  EXPECT_NE(record, PrivilegedOperationError(-1, "D", "other"));
}

} // namespace
} // namespace api
