#include "ArchiveTestSupport.h"
#include "TestClasses.h"
#include "platform/archive/ErrorObject.h"

#include <gtest/gtest.h>

namespace archive_test {
namespace {

std::string debugDescription(const NSError& error) {
  return error.stringForKey(NSDebugDescriptionErrorKey).value_or("");
}

// Decodes `bytes` admitting `allowed` and expects a refusal whose debug text has `fragment`.
void expectRefusal(const Bytes& bytes, const ClassSet& allowed, const std::string& fragment) {
  NSError error;
  EXPECT_EQ(unarchivedObjectOfClasses(allowed, bytes, &error, testOptions()), nullptr);
  EXPECT_EQ(error.domain(), NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), NSCoderReadCorruptError);
  EXPECT_EQ(error.localizedDescription(),
            "The data couldn’t be read because it isn’t in the correct format.");
  EXPECT_NE(debugDescription(error).find(fragment), std::string::npos) << debugDescription(error);
}

Bytes archive(const ObjectPtr& root) {
  NSError error;
  return archivedDataWithRootObject(root, false, &error).value_or(Bytes());
}

TEST(SecureDecoding, RootMustBeOfAnAllowedClass) {
  expectRefusal(pythonArchive("task"), {&NSArray::classObject()},
                "value for key 'root' was of unexpected class 'TestTask'. Allowed classes are "
                "'{(NSArray)}'.");
  expectRefusal(archive(NSString::make("text")), {&TestBaseTask::classObject()},
                "unexpected class 'NSString'");
  // A base class does not admit a subclass the other way round.
  expectRefusal(archive(std::make_shared<TestBaseTask>(UUID())), {&TestTask::classObject()},
                "unexpected class 'TestBaseTask'");
}

TEST(SecureDecoding, SubclassesOfAnAllowedClassAreAdmitted) {
  NSError error;
  EXPECT_NE(unarchivedObjectOfClasses({&TestBaseTask::classObject()}, pythonArchive("task"), &error,
                                      testOptions()),
            nullptr);
  EXPECT_NE(unarchivedObjectOfClasses({&ObjectClass::NSObject()}, pythonArchive("task"), &error,
                                      testOptions()),
            nullptr);
}

TEST(SecureDecoding, NestedObjectsOnlyOfTheClassesTheirOwnerNames) {
  // The array's elements are checked against the classes that admitted the array.
  auto mixed =
      archive(NSArray::make({NSString::make("a"), NSURL::make(URL::fileURLWithPath("/"))}));
  expectRefusal(mixed, {&NSArray::classObject(), &NSString::classObject()},
                "value for key 'NS.objects' was of unexpected class 'NSURL'");
  auto dictionary = archive(NSDictionary::make({{NSString::make("k"), NSNumber::make(1.0)}}));
  expectRefusal(dictionary, {&NSDictionary::classObject(), &NSString::classObject()},
                "unexpected class 'NSNumber'");
  // A task's "items" admit arrays and strings only.
  auto fields = sampleFields();
  auto task = std::make_shared<TestTask>(UUID(), fields);
  NSError error;
  auto bytes = archivedDataWithRootObject(task, true, &error);
  ASSERT_TRUE(bytes);
  EXPECT_NE(unarchivedObjectOfClass<TestTask>(*bytes, &error, testOptions()), nullptr);
}

TEST(SecureDecoding, DecodeObjectForKeyUsesTheClassesThatAdmittedTheOwner) {
  auto result = std::make_shared<TestResult>(
      3, NSArray::makeWithStrings({"/a"}),
      NSErrorObject::make(
          NSError(NSCocoaErrorDomain, 4, {{NSURLErrorKey, URL::fileURLWithPath("/a")}})));
  const Bytes bytes = archive(result);
  NSError error;
  auto decoded = std::dynamic_pointer_cast<TestResult>(unarchivedObjectOfClasses(
      {&TestResult::classObject(), &NSArray::classObject(), &NSString::classObject()}, bytes,
      &error, testOptions()));
  ASSERT_NE(decoded, nullptr) << debugDescription(error);
  EXPECT_TRUE(decoded->value()->isEqual(*result->value()));
  // The error decodes whatever the caller allowed; the value only with its classes.
  EXPECT_TRUE(decoded->error()->isEqual(*result->error()));
  expectRefusal(bytes, {&TestResult::classObject(), &NSArray::classObject()},
                "value for key 'NS.objects' was of unexpected class 'NSString'");
  expectRefusal(bytes, {&TestResult::classObject()},
                "value for key 'value' was of unexpected class 'NSArray'");
}

TEST(SecureDecoding, ClassesWithoutSecureCodingAreRefused) {
  expectRefusal(pythonArchive("insecure-task"), {&TestBaseTask::classObject()},
                "Class 'InsecureTask' does not support secure coding");
}

TEST(SecureDecoding, UnknownClassesAreRefused) {
  expectRefusal(pythonArchive("unknown-class"), {&ObjectClass::NSObject()},
                "cannot decode object of class (Evil) for key (root)");
}

TEST(SecureDecoding, DeclinedFieldsGiveNoObjectAndNoError) {
  NSError error("untouched", 1);
  EXPECT_EQ(unarchivedObjectOfClass<TestBaseTask>(pythonArchive("task-without-uuid"), &error,
                                                  testOptions()),
            nullptr);
  EXPECT_EQ(error.domain(), "untouched");
}

TEST(SecureDecoding, ClassesOutsideTheRegistryAreUnknown) {
  // The shared registry holds only the standard classes.
  NSError error;
  EXPECT_EQ(unarchivedObjectOfClasses({&ObjectClass::NSObject()}, pythonArchive("task"), &error),
            nullptr);
  EXPECT_NE(debugDescription(error).find("cannot decode object of class (TestTask)"),
            std::string::npos);
}

} // namespace
} // namespace archive_test
