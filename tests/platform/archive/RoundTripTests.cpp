#include "TestClasses.h"
#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/BinaryPropertyList.h"
#include "platform/archive/BinaryPropertyListWriter.h"
#include "platform/archive/ErrorObject.h"
#include "platform/archive/FileHandle.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace archive_test {
namespace {

ObjectPtr roundTrip(const ObjectPtr& object, const ClassSet& allowed = standardClasses()) {
  NSError error;
  auto bytes = archivedDataWithRootObject(object, true, &error);
  EXPECT_TRUE(bytes) << error.stringForKey(NSDebugDescriptionErrorKey).value_or("");
  if (!bytes) {
    return nullptr;
  }
  auto decoded = unarchivedObjectOfClasses(allowed, *bytes, &error, testOptions());
  EXPECT_NE(decoded, nullptr) << error.stringForKey(NSDebugDescriptionErrorKey).value_or("");
  return decoded;
}

TEST(ArchiveRoundTrip, StandardValueClasses) {
  const std::vector<ObjectPtr> values = {
      NSString::make("plain"),
      NSString::make(""),
      NSString::make("ünïcödé ✓ \"quoted\""),
      NSNumber::make(int64_t{-42}),
      NSNumber::make(int64_t{INT64_MAX}),
      NSNumber::make(int64_t{INT64_MIN}),
      NSNumber::make(2.5),
      NSNumber::make(true),
      NSNumber::make(false),
      NSData::make({0, 1, 2, 255}),
      NSData::make({}),
      NSDate::make(Date::fromTimeIntervalSinceReferenceDate(123456.75)),
      NSUUID::make(UUID()),
      NSURL::make(URL::fileURLWithPath("/Library/Application Support/a b")),
      NSURL::make(*URL::fromString("https://example.invalid/x?y=1")),
      NSNull::null(),
  };
  for (const auto& value : values) {
    auto decoded = roundTrip(value);
    ASSERT_NE(decoded, nullptr) << value->description();
    EXPECT_EQ(&decoded->objectClass(), &value->objectClass()) << value->description();
    EXPECT_TRUE(decoded->isEqual(*value)) << value->description();
  }
  auto boolean = std::dynamic_pointer_cast<NSNumber>(roundTrip(NSNumber::make(true)));
  ASSERT_NE(boolean, nullptr);
  EXPECT_TRUE(boolean->isBoolean());
}

TEST(ArchiveRoundTrip, Collections) {
  auto array = NSArray::make({NSString::make("a"), NSNumber::make(int64_t{1}),
                              NSArray::makeWithStrings({"nested"}), NSNull::null()});
  auto set = NSSet::make({NSString::make("a"), NSString::make("a"), NSString::make("b")});
  EXPECT_EQ(set->count(), 2u);
  auto dictionary = NSDictionary::make({{NSString::make("k"), NSString::make("v")},
                                        {NSString::make("n"), NSNumber::make(3.0)},
                                        {NSString::make("list"), array}});
  for (const ObjectPtr& collection :
       std::vector<ObjectPtr>{array, set, dictionary, NSArray::make({})}) {
    auto decoded = roundTrip(collection);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(decoded->isEqual(*collection)) << collection->description();
  }
  auto decoded = std::dynamic_pointer_cast<NSDictionary>(roundTrip(dictionary));
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->objectForKey("list")->isEqual(*array));
}

TEST(ArchiveRoundTrip, ErrorWithEveryUserInfoKind) {
  auto underlying = std::make_shared<const NSError>(NSError::posix(ENOENT, "/tmp/missing"));
  NSError error("kKLVPrivilegedAccessErrorDomain", 100502,
                {{NSURLErrorKey, URL::fileURLWithPath("/tmp/x")},
                 {NSUnderlyingErrorKey, underlying},
                 {"count", int64_t{7}},
                 {"ratio", 0.5},
                 {"flag", true},
                 {"text", std::string("words")},
                 {"names", std::vector<std::string>{"a", "b"}},
                 {"kKLVEmbeddedErrorsKey", std::vector<NSError>{NSError::posix(EPERM)}}});
  auto decoded = std::dynamic_pointer_cast<NSErrorObject>(roundTrip(NSErrorObject::make(error)));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->error(), error);

  auto plain = std::dynamic_pointer_cast<NSErrorObject>(
      roundTrip(NSErrorObject::make(NSError(NSCocoaErrorDomain, 4))));
  ASSERT_NE(plain, nullptr);
  EXPECT_TRUE(plain->error().userInfo().empty());
}

TEST(ArchiveRoundTrip, CustomHierarchyDecodesAsItsOwnClassThroughTheBase) {
  auto task = std::make_shared<TestTask>(UUID(), sampleFields());
  NSError error;
  auto bytes = archivedDataWithRootObject(task, true, &error);
  ASSERT_TRUE(bytes);
  auto decoded = unarchivedObjectOfClass<TestBaseTask>(*bytes, &error, testOptions());
  ASSERT_NE(decoded, nullptr) << error.stringForKey(NSDebugDescriptionErrorKey).value_or("");
  EXPECT_EQ(&decoded->objectClass(), &TestTask::classObject());
  EXPECT_TRUE(decoded->isEqual(*task));

  auto other = std::make_shared<TestTask>(UUID(), sampleFields());
  EXPECT_FALSE(other->isEqual(*task)); // same fields, another uuid
}

TEST(ArchiveRoundTrip, SharedObjectsDecodeOnceAndStayShared) {
  auto url = NSURL::make(URL::fileURLWithPath("/shared"));
  auto array = NSArray::make({url, url, NSString::make("s"), NSString::make("s")});
  auto decoded = std::dynamic_pointer_cast<NSArray>(roundTrip(array));
  ASSERT_NE(decoded, nullptr);
  ASSERT_EQ(decoded->count(), 4u);
  EXPECT_EQ(decoded->objects()[0], decoded->objects()[1]);
  EXPECT_EQ(decoded->objects()[2], decoded->objects()[3]); // strings are shared by value
}

// A property list read once can be unarchived as its bytes would be: the same objects, and the
// same refusals of what is no keyed archive.
TEST(ArchiveRoundTrip, APropertyListReadOnceDecodesAsItsBytes) {
  NSError error;
  auto bytes = archivedDataWithRootObject(
      NSArray::make({NSString::make("one"), NSNumber::make(int64_t{2})}), true, &error);
  ASSERT_TRUE(bytes);
  std::string fault;
  auto list = BinaryPropertyList::read(*bytes, testOptions().limits, fault);
  ASSERT_TRUE(list) << fault;
  auto decoded = std::dynamic_pointer_cast<NSArray>(
      unarchivedObjectOfClasses(standardClasses(), *list, &error, testOptions()));
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->isEqual(
      *unarchivedObjectOfClasses(standardClasses(), *bytes, &error, testOptions())));

  // A property list that is not a keyed archive: refused alike, with the same reason.
  BinaryPropertyListWriter writer;
  const Bytes plain = writer.write(writer.addString("not an archive"));
  auto plainList = BinaryPropertyList::read(plain, testOptions().limits, fault);
  ASSERT_TRUE(plainList) << fault;
  NSError fromList;
  NSError fromBytes;
  EXPECT_EQ(unarchivedObjectOfClasses(standardClasses(), *plainList, &fromList, testOptions()),
            nullptr);
  EXPECT_EQ(unarchivedObjectOfClasses(standardClasses(), plain, &fromBytes, testOptions()),
            nullptr);
  EXPECT_EQ(fromList.stringForKey(NSDebugDescriptionErrorKey),
            fromBytes.stringForKey(NSDebugDescriptionErrorKey));
  EXPECT_TRUE(fromList.stringForKey(NSDebugDescriptionErrorKey).has_value());
}

TEST(ArchiveRoundTrip, SecureCodingIsRequiredOnlyWhenAsked) {
  auto insecure = std::make_shared<InsecureTask>(UUID());
  NSError error;
  EXPECT_FALSE(archivedDataWithRootObject(insecure, true, &error));
  EXPECT_EQ(error.domain(), NSCocoaErrorDomain);
  EXPECT_EQ(error.code(), NSCoderInvalidValueError);
  EXPECT_EQ(error.localizedDescription(),
            "The data couldn’t be written because it isn’t in the correct format.");
  EXPECT_TRUE(archivedDataWithRootObject(insecure, false, &error));
  EXPECT_FALSE(archivedDataWithRootObject(nullptr, true, &error));
}

TEST(ArchiveRoundTrip, FileHandlesTravelAsIndexesIntoTheDescriptorList) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  auto handle = NSFileHandle::make(ends[1]);
  auto root = NSArray::make({NSString::make("before"), handle});

  NSError error;
  EXPECT_FALSE(archivedDataWithRootObject(root, true, &error)); // no channel for descriptors
  EXPECT_EQ(error.code(), NSCoderInvalidValueError);

  std::vector<int> descriptors;
  auto bytes = archivedDataWithRootObject(root, true, &error, &descriptors);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(descriptors, std::vector<int>{ends[1]});

  UnarchiveOptions options = testOptions();
  options.fileDescriptors = descriptors;
  auto decoded = std::dynamic_pointer_cast<NSArray>(unarchivedObjectOfClasses(
      {&NSArray::classObject(), &NSString::classObject(), &NSFileHandle::classObject()}, *bytes,
      &error, options));
  ASSERT_NE(decoded, nullptr);
  auto received = std::dynamic_pointer_cast<NSFileHandle>(decoded->objects()[1]);
  ASSERT_NE(received, nullptr);
  EXPECT_NE(received->fileDescriptor(), ends[1]); // a duplicate the handle owns
  ASSERT_EQ(::write(received->fileDescriptor(), "x", 1), 1);
  char byte = 0;
  ASSERT_EQ(::read(ends[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'x');
  ::close(ends[0]);

  // Without the descriptors the index points nowhere.
  EXPECT_EQ(unarchivedObjectOfClasses(
                {&NSArray::classObject(), &NSString::classObject(), &NSFileHandle::classObject()},
                *bytes, &error, testOptions()),
            nullptr);
  EXPECT_EQ(error.code(), NSCoderReadCorruptError);
}

} // namespace
} // namespace archive_test

namespace archive_test {
namespace {

// Writes one scalar of each kind and reads them back through every scalar call.
class ScalarProbe final : public Object {
public:
  struct Readings {
    int64_t boolAsInteger = -1;
    bool integerAsBool = false;
    double integerAsDouble = 0;
    int64_t realAsInteger = 0;
    int32_t missingInt32 = -1;
    bool missingBool = true;
    double missingDouble = -1;
    bool hasMissing = true;
  };
  static Readings readings;

  static const ObjectClass& classObject() {
    static const ObjectClass objectClass(
        "ScalarProbe", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
          readings.boolAsInteger = coder.decodeInt64ForKey("flag");
          readings.integerAsBool = coder.decodeBoolForKey("count");
          readings.integerAsDouble = coder.decodeDoubleForKey("count");
          readings.realAsInteger = coder.decodeIntegerForKey("ratio");
          readings.missingInt32 = coder.decodeInt32ForKey("absent");
          readings.missingBool = coder.decodeBoolForKey("absent");
          readings.missingDouble = coder.decodeDoubleForKey("absent");
          readings.hasMissing = coder.containsValueForKey("absent");
          if (coder.decodeInt32ForKey(probeKey) == 0 && coder.error()) {
            return nullptr;
          }
          return std::make_shared<ScalarProbe>();
        });
    return objectClass;
  }
  static inline std::string probeKey = "count";

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeBool(true, "flag");
    coder.encodeInt64(7, "count");
    coder.encodeDouble(2.75, "ratio");
    coder.encodeInt64(int64_t{1} << 40, "huge");
    coder.encodeString("text", "text");
  }
};
ScalarProbe::Readings ScalarProbe::readings;

TEST(ArchiveRoundTrip, ScalarsConvertAsThePlatformReadsThem) {
  ClassRegistry registry;
  registry.registerClass(ScalarProbe::classObject());
  UnarchiveOptions options;
  options.registry = &registry;
  NSError error;
  auto bytes = archivedDataWithRootObject(std::make_shared<ScalarProbe>(), true, &error);
  ASSERT_TRUE(bytes);

  ScalarProbe::probeKey = "count";
  ASSERT_NE(unarchivedObjectOfClass<ScalarProbe>(*bytes, &error, options), nullptr);
  const auto& readings = ScalarProbe::readings;
  EXPECT_EQ(readings.boolAsInteger, 1);
  EXPECT_TRUE(readings.integerAsBool);
  EXPECT_EQ(readings.integerAsDouble, 7.0);
  EXPECT_EQ(readings.realAsInteger, 2);
  EXPECT_EQ(readings.missingInt32, 0);
  EXPECT_FALSE(readings.missingBool);
  EXPECT_EQ(readings.missingDouble, 0.0);
  EXPECT_FALSE(readings.hasMissing);

  // A value too large for 32 bits, or an object where a number belongs, fails decoding.
  for (const char* key : {"huge", "text"}) {
    ScalarProbe::probeKey = key;
    EXPECT_EQ(unarchivedObjectOfClass<ScalarProbe>(*bytes, &error, options), nullptr) << key;
    EXPECT_EQ(error.code(), NSCoderReadCorruptError) << key;
  }
}

} // namespace
} // namespace archive_test
