#include "ResultPrinting.h"
#include "platform/archive/Collections.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/Values.h"
#include "tasks/model/KLVConfigurationProfile.h"
#include "tasks/model/KLVPrivilegedURL.h"
#include "tasks/model/KLVResultObject.h"

#include <gtest/gtest.h>

using namespace platform::archive;
using platform::NSError;
using tasks::KLVResultObject;

namespace {

platform::Bytes archived(const ObjectPtr& root) {
  NSError error;
  auto bytes = archivedDataWithRootObject(root, true, &error);
  EXPECT_TRUE(bytes) << error.description();
  return bytes.value_or(platform::Bytes());
}

// The printed line of `result`, or the decoding failure's debug description.
std::string printed(const tasks::ResultPtr& result) {
  NSError error;
  auto decoded = agentctl::decodeResult(archived(result), {}, &error);
  if (!decoded) {
    return "failed: " + error.stringForKey(platform::NSDebugDescriptionErrorKey).value_or("");
  }
  return decoded->text;
}

} // namespace

TEST(ArchiveRendering, RendersStandardValuesAndRecordsFromTheirKeys) {
  tasks::KLVConfigurationProfile::Fields profile;
  profile.userName = "alice";
  profile.profileName = "Mail";
  profile.profileIdentifier = "com.example.mail";
  profile.profileUUIDText = "ABC";
  profile.installationDate = platform::Date::fromTimeIntervalSinceReferenceDate(731340429);
  auto uuid = platform::UUID::fromString("0F6C4B4E-9A57-4E0B-8D7A-2B52F8A4C3D1");
  auto value = NSDictionary::make({
      {NSString::make("date"),
       NSDate::make(platform::Date::fromTimeIntervalSinceReferenceDate(5.5))},
      {NSString::make("url"), NSURL::make(platform::URL::fileURLWithPath("/a b"))},
      {NSString::make("uuid"), NSUUID::make(*uuid)},
      {NSString::make("data"), NSData::make({1, 2, 3})},
      {NSString::make("list"), NSArray::make({NSNumber::make(int64_t{-1}), NSNumber::make(true),
                                              NSNumber::make(0.5), NSNull::null()})},
      {NSNumber::make(int64_t{7}), NSString::make("a number as key")},
      {NSString::make("profile"),
       std::make_shared<tasks::KLVConfigurationProfile>(std::move(profile))},
      {NSString::make("entry"),
       std::make_shared<tasks::KLVPrivilegedURL>("/x", std::nullopt, true, false, false)},
  });
  EXPECT_EQ(
      printed(KLVResultObject::successResultWithValue(value)),
      R"({"error":null,"type":1,"typeText":"success","value":{"7":"a number as key",)"
      R"("data":"AQID","date":5.5,"entry":{"canonicalStandartizedPath":null,)"
      R"("isDirectory":true,"isExecutable":false,"isMachOBinary":false,"originPath":"\/x"},)"
      R"("list":[-1,true,0.5,null],"profile":{"installationDate":731340429,)"
      R"("isRemovalDisallowed":false,"isUnderAdminPrivilege":false,"profileIdentifier":)"
      R"("com.example.mail","profileName":"Mail","profileUUIDText":"ABC","userName":"alice"},)"
      R"("url":"file:\/\/\/a%20b","uuid":"0F6C4B4E-9A57-4E0B-8D7A-2B52F8A4C3D1"}})");
}

TEST(ArchiveRendering, RendersErrorsWithTheirUserInformation) {
  auto cause = std::make_shared<const NSError>(NSError::posix(2));
  NSError error("Domain", 3,
                {{platform::NSUnderlyingErrorKey, cause},
                 {platform::NSURLErrorKey, platform::URL::fileURLWithPath("/gone")}});
  EXPECT_EQ(printed(KLVResultObject::resultWithStatus(false, error)),
            R"({"error":{"code":3,"domain":"Domain","userInfo":{"NSURL":"file:\/\/\/gone",)"
            R"("NSUnderlyingError":{"code":2,"domain":"NSPOSIXErrorDomain","userInfo":{}}}},)"
            R"("type":3,"typeText":"mixed","value":"failure"})");
  EXPECT_EQ(printed(KLVResultObject::emptyResult()),
            R"({"error":null,"type":0,"typeText":"empty","value":null})");
}

// The result comes from another process: a graph that the unarchiver accepts but that would
// print without end is refused rather than printed.
TEST(ArchiveRendering, BoundsDepthAndSharedExpansion) {
  ObjectPtr deep = NSString::make("bottom");
  for (int level = 0; level < 100; ++level) {
    deep = NSArray::make({deep});
  }
  EXPECT_EQ(printed(KLVResultObject::successResultWithValue(deep)),
            "failed: the result is nested too deeply to print");

  // Each level refers twice to the one below: 40 objects, 2^30 paths.
  ObjectPtr wide = NSString::make("leaf");
  for (int level = 0; level < 30; ++level) {
    wide = NSArray::make({wide, wide});
  }
  EXPECT_EQ(printed(KLVResultObject::successResultWithValue(wide)),
            "failed: the result is too large to print");
}
