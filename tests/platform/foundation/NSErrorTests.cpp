#include "platform/foundation/NSError.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(NSError, UsesTheDescriptionOfTheUserInfoWhenSet) {
  NSError error("D", 7, {{NSLocalizedDescriptionKey, std::string("T")}});
  EXPECT_EQ(error.localizedDescription(), "T");
}

TEST(NSError, FallsBackToThePlatformsGenericWording) {
  EXPECT_EQ(NSError("PrivilegedAgent.Thing", 2).localizedDescription(),
            "The operation couldn’t be completed. (PrivilegedAgent.Thing error 2.)");
  EXPECT_EQ(NSError::posix(ENOENT).localizedDescription(),
            "The operation couldn’t be completed. No such file or directory");
}

TEST(NSError, FileManagerErrorsKeepCocoaCodesAndTheUnderlyingPOSIXError) {
  NSError missing = NSError::fileManagerError(ENOENT, "/tmp/x/file.txt", true);
  EXPECT_EQ(missing.domain(), NSCocoaErrorDomain);
  EXPECT_EQ(missing.code(), 4);
  EXPECT_EQ(missing.localizedDescription(), "The file “file.txt” doesn’t exist.");
  ASSERT_NE(missing.underlyingError(), nullptr);
  EXPECT_EQ(missing.underlyingError()->domain(), NSPOSIXErrorDomain);
  EXPECT_EQ(missing.underlyingError()->code(), ENOENT);
  EXPECT_EQ(NSError::fileManagerError(EACCES, "/a", true).code(), 513);
  EXPECT_EQ(NSError::fileManagerError(EEXIST, "/a", true).code(), 516);
  EXPECT_EQ(NSError::fileManagerError(ENOENT, "/a", false).code(), 260);
  EXPECT_EQ(NSError::fileManagerError(EACCES, "/a", false).code(), 257);
}

TEST(NSError, EqualityComparesNestedErrors) {
  NSError a = NSError::cocoaFile(4, "/x", ENOENT);
  NSError b = NSError::cocoaFile(4, "/x", ENOENT);
  NSError c = NSError::cocoaFile(4, "/x", EACCES);
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a == c);
}

TEST(NSError, BridgesForeignExceptionsWithTheirMessage) {
  NSError bridged = bridgeToNSError(std::make_exception_ptr(std::runtime_error("boom")));
  EXPECT_EQ(bridged.localizedDescription(), "boom");
  NSError ours = bridgeToNSError(std::make_exception_ptr(NSErrorException(NSError("D", 3))));
  EXPECT_EQ(ours, NSError("D", 3));
}

} // namespace
} // namespace platform
