#include "ArchiveTestSupport.h"
#include "TaskTestSupport.h"
#include "platform/archive/ErrorObject.h"
#include "platform/archive/Values.h"
#include "tasks/model/KLVPrivilegedURL.h"
#include "tasks/model/KLVResultObject.h"
#include "tasks/model/PrivilegedAccessErrors.h"

#include <gtest/gtest.h>

using namespace tasks;
using platform::NSError;
using platform::archive::NSString;
using platform::archive::ObjectPtr;

namespace {

ResultPtr unarchiveResult(const platform::Bytes& bytes, NSError* error = nullptr) {
  registerTaskClasses();
  platform::archive::ClassSet allowed = {&KLVResultObject::classObject(), &NSString::classObject(),
                                         &platform::archive::NSNumber::classObject(),
                                         &KLVPrivilegedURL::classObject()};
  return std::dynamic_pointer_cast<KLVResultObject>(
      platform::archive::unarchivedObjectOfClasses(allowed, bytes, error));
}

const NSError kSampleError("Domain", 7);

} // namespace

TEST(ResultObject, ConstructorsPickTheirTypes) {
  EXPECT_EQ(KLVResultObject::resultWithValue(nullptr, std::nullopt)->type(), 0);
  EXPECT_EQ(KLVResultObject::successResultWithValue(NSString::make("v"))->type(), 1);
  EXPECT_EQ(KLVResultObject::failureResultWithError(kSampleError)->type(), 2);
  EXPECT_EQ(KLVResultObject::resultWithValue(NSString::make("v"), kSampleError)->type(), 3);

  auto noWithoutError = KLVResultObject::resultWithStatus(false, std::nullopt);
  EXPECT_EQ(noWithoutError->type(), 1);
  EXPECT_EQ(noWithoutError->value()->description(), "failure");
  EXPECT_FALSE(noWithoutError->isSuccess());
  auto yesWithError = KLVResultObject::resultWithStatus(true, kSampleError);
  EXPECT_EQ(yesWithError->type(), 3);
  EXPECT_TRUE(yesWithError->isSuccess());
  EXPECT_TRUE(KLVResultObject::successStatusResult()->isSuccess());

  auto denied = KLVResultObject::accessDeniedResult();
  EXPECT_EQ(denied->type(), 2);
  EXPECT_EQ(denied->error()->domain(), "kKLVPrivilegedAccessErrorDomain");
  EXPECT_EQ(denied->error()->code(), 100500);
}

TEST(ResultObject, TypeTextsAndDescription) {
  EXPECT_EQ(klv_typeText(0), "empty");
  EXPECT_EQ(klv_typeText(3), "mixed");
  EXPECT_EQ(klv_typeText(7), "failure");
  EXPECT_EQ(KLVResultObject::emptyResult()->description(),
            "<result {\n    error = nil;\n    type = empty;\n    value = nil;\n}>");
}

TEST(ResultObject, MapsOnlyTheSidesItHas) {
  auto mixed = KLVResultObject::resultWithValue(NSString::make("v"), kSampleError);
  auto failure = KLVResultObject::failureResultWithError(kSampleError);
  auto toText = [](const ObjectPtr&) -> ObjectPtr { return NSString::make("mapped"); };
  EXPECT_NE(mixed->mapValue(toText), nullptr);
  EXPECT_EQ(failure->mapValue(toText), nullptr);
  EXPECT_NE(failure->mapError([](const NSError&) -> ObjectPtr { return NSString::make("e"); }),
            nullptr);
  auto replacement = KLVResultObject::successStatusResult();
  EXPECT_EQ(mixed->flatMapValue([&](const ObjectPtr&) { return replacement; }), replacement);
  EXPECT_EQ(failure->flatMapValue([&](const ObjectPtr&) { return replacement; }).get(),
            failure.get());
}

TEST(ResultObject, RoundTripKeepsEquality) {
  auto result = KLVResultObject::resultWithStatus(
      false, NSError("kKLVFileRemoverErrorDomain", 3,
                     {{platform::NSURLErrorKey, platform::URL::fileURLWithPath("/tmp/x")}}));
  auto copy = unarchiveResult(tasks_test::archive(result));
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->isEqual(*result));
  EXPECT_EQ(copy->hash(), result->hash());
  EXPECT_FALSE(copy->isEqual(*KLVResultObject::successStatusResult()));
}

TEST(ResultObject, PlistlibResultsDecodeAndAnEmptyOneWithAValueIsRefused) {
  archive_test::TemporaryDirectory directory;
  ASSERT_EQ(archive_test::runScript("task_archives.py", {"write", directory.path()}).status, 0);
  auto read = [&](const char* name) {
    return archive_test::readFile(directory.path() + "/" + name + ".archive");
  };
  auto mixed = unarchiveResult(read("result_mixed"));
  ASSERT_NE(mixed, nullptr);
  EXPECT_EQ(mixed->klv_typeText(), "mixed");
  EXPECT_FALSE(mixed->isSuccess());
  ASSERT_TRUE(mixed->error().has_value());
  EXPECT_EQ(mixed->error()->domain(), "kKLVFileRemoverErrorDomain");
  EXPECT_EQ(mixed->error()->code(), 3);
  EXPECT_NE(mixed->error()->userInfo().count(platform::NSURLErrorKey), 0u);

  ASSERT_NE(unarchiveResult(read("result_empty")), nullptr);
  EXPECT_TRUE(unarchiveResult(read("result_empty"))->isEmpty());
  EXPECT_EQ(unarchiveResult(read("result_empty_with_value")), nullptr);
}

TEST(ResultObject, PlistlibReadsOurResult) {
  archive_test::TemporaryDirectory directory;
  const std::string path = directory.path() + "/result.archive";
  archive_test::writeFile(path, tasks_test::archive(KLVResultObject::resultWithStatus(
                                    false, NSError("ProcessManagementServiceErrorDomain", 7))));
  auto printed = archive_test::runScript("task_archives.py", {"read", path});
  ASSERT_EQ(printed.status, 0);
  EXPECT_EQ(printed.output, "class=KLVResultObject\n"
                            "error=error:ProcessManagementServiceErrorDomain/7\n"
                            "type=3\n"
                            "value=failure\n");
}
