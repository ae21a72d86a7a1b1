// Checks the codec against archives that Python's plistlib writes by hand, and checks the
// archives the codec writes by reading them back with plistlib alone.

#include "ArchiveTestSupport.h"
#include "TestClasses.h"
#include "platform/archive/ErrorObject.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace archive_test {
namespace {

const UUID kFixedUUID = *UUID::fromString("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");

template <class T> std::shared_ptr<T> member(const NSDictionary& dictionary, const char* key) {
  auto value = std::dynamic_pointer_cast<T>(dictionary.objectForKey(key));
  EXPECT_NE(value, nullptr) << key;
  return value;
}

// Archives `root` and returns what dump_archive.py reads from it.
nlohmann::json inspect(const ObjectPtr& root) {
  NSError error;
  auto bytes = archivedDataWithRootObject(root, true, &error);
  EXPECT_TRUE(bytes);
  TemporaryDirectory directory;
  const std::string path = directory.path() + "/ours.archive";
  writeFile(path, bytes.value_or(Bytes()));
  auto result = runScript("dump_archive.py", {path});
  EXPECT_EQ(result.status, 0);
  return nlohmann::json::parse(result.output, nullptr, false);
}

TEST(ArchiveFormat, DecodesStandardClassesWrittenByPlistlib) {
  NSError error;
  auto root = std::dynamic_pointer_cast<NSDictionary>(unarchivedObjectOfClasses(
      standardClasses(), pythonArchive("standard"), &error, testOptions()));
  ASSERT_NE(root, nullptr) << error.stringForKey(NSDebugDescriptionErrorKey).value_or("");

  EXPECT_EQ(member<NSString>(*root, "string")->value(), "hello ✓");
  EXPECT_EQ(member<NSNumber>(*root, "integer")->int64Value(), -42);
  EXPECT_EQ(member<NSNumber>(*root, "large")->int64Value(), int64_t{1} << 40);
  EXPECT_EQ(member<NSNumber>(*root, "real")->doubleValue(), 2.5);
  EXPECT_TRUE(member<NSNumber>(*root, "bool")->isBoolean());
  EXPECT_EQ(member<NSData>(*root, "data")->bytes(), (Bytes{0x00, 0x01, 0xff}));
  EXPECT_EQ(member<NSDate>(*root, "date")->date().timeIntervalSinceReferenceDate(), 1000.5);
  EXPECT_EQ(member<NSUUID>(*root, "uuid")->uuid(), kFixedUUID);
  EXPECT_EQ(member<NSURL>(*root, "url")->url().path(), "/tmp/a b");
  EXPECT_EQ(member<NSURL>(*root, "relativeURL")->url().absoluteString(),
            "file:///tmp/dir/sub/file");
  EXPECT_EQ(member<NSArray>(*root, "array")->strings(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(member<NSArray>(*root, "mutableArray")->count(), 1u);
  EXPECT_EQ(member<NSSet>(*root, "set")->count(), 2u);
  EXPECT_NE(member<NSNull>(*root, "null"), nullptr);
  EXPECT_EQ(member<NSString>(*root, "mutableString")->value(), "mutable");

  auto archivedError = member<NSErrorObject>(*root, "error");
  ASSERT_NE(archivedError, nullptr);
  const NSError& decoded = archivedError->error();
  EXPECT_EQ(decoded.domain(), NSCocoaErrorDomain);
  EXPECT_EQ(decoded.code(), 4);
  EXPECT_EQ(decoded.stringForKey(NSFilePathErrorKey), "/tmp/x");
  ASSERT_NE(decoded.underlyingError(), nullptr);
  EXPECT_EQ(decoded.underlyingError()->code(), 2);
  EXPECT_EQ(decoded.underlyingError()->domain(), NSPOSIXErrorDomain);
}

TEST(ArchiveFormat, DecodesACustomClassWrittenByPlistlib) {
  NSError error;
  auto task = unarchivedObjectOfClass<TestBaseTask>(pythonArchive("task"), &error, testOptions());
  ASSERT_NE(task, nullptr) << error.stringForKey(NSDebugDescriptionErrorKey).value_or("");
  EXPECT_TRUE(task->isEqual(TestTask(kFixedUUID, sampleFields())));
}

TEST(ArchiveFormat, PlistlibReadsOurCustomClassArchive) {
  auto json = inspect(std::make_shared<TestTask>(kFixedUUID, sampleFields()));
  ASSERT_FALSE(json.is_discarded());
  const auto& root = json["root"];
  EXPECT_EQ(root["$class"], nlohmann::json({"TestTask", "TestBaseTask", "NSObject"}));
  EXPECT_EQ(root["uuid"]["$class"], nlohmann::json({"NSUUID", "NSObject"}));
  EXPECT_EQ(root["uuid"]["NS.uuidbytes"]["$data"], "0f1e2d3c4b5a69788796a5b4c3d2e1f0");
  EXPECT_EQ(root["url"]["$class"], nlohmann::json({"NSURL", "NSObject"}));
  EXPECT_TRUE(root["url"]["NS.base"].is_null());
  EXPECT_EQ(root["url"]["NS.relative"], "file:///private/tmp/target");
  EXPECT_EQ(root["name"], "cleanup");
  EXPECT_EQ(root["timeout"], 30.0);
  EXPECT_EQ(root["flag"], true);
  EXPECT_EQ(root["depth"], 5);
  EXPECT_EQ(root["items"]["$class"], nlohmann::json({"NSArray", "NSObject"}));
  EXPECT_EQ(root["items"]["NS.objects"], nlohmann::json({"x", "y"}));
  EXPECT_EQ(root["date"]["NS.time"], -1.25);
  EXPECT_TRUE(json["duplicateStrings"].empty());
}

TEST(ArchiveFormat, PlistlibReadsOurStandardClassForms) {
  auto error = NSErrorObject::make(
      NSError(NSCocoaErrorDomain, 4, {{NSFilePathErrorKey, std::string("/x")}}));
  auto json = inspect(NSDictionary::make({
      {NSString::make("error"), error},
      {NSString::make("numbers"),
       NSArray::make({NSNumber::make(int64_t{-1}), NSNumber::make(true), NSNumber::make(0.25)})},
      {NSString::make("data"), NSData::make({1, 2})},
      {NSString::make("null"), NSNull::null()},
      {NSString::make("set"), NSSet::make({NSString::make("/x")})},
  }));
  ASSERT_FALSE(json.is_discarded());
  const auto& root = json["root"];
  EXPECT_EQ(root["$class"], nlohmann::json({"NSDictionary", "NSObject"}));
  ASSERT_EQ(root["NS.keys"].size(), 5u);
  std::map<std::string, nlohmann::json> members;
  for (size_t i = 0; i < 5; ++i) {
    members[root["NS.keys"][i]] = root["NS.objects"][i];
  }
  const auto& archivedError = members["error"];
  EXPECT_EQ(archivedError["$class"], nlohmann::json({"NSError", "NSObject"}));
  EXPECT_EQ(archivedError["NSCode"], 4);
  EXPECT_EQ(archivedError["NSDomain"], "NSCocoaErrorDomain");
  EXPECT_EQ(archivedError["NSUserInfo"]["NS.keys"], nlohmann::json({"NSFilePath"}));
  EXPECT_EQ(archivedError["NSUserInfo"]["NS.objects"], nlohmann::json({"/x"}));
  EXPECT_EQ(members["numbers"]["NS.objects"], nlohmann::json({-1, true, 0.25}));
  EXPECT_EQ(members["data"]["$data"], "0102");
  EXPECT_EQ(members["null"]["$class"], nlohmann::json({"NSNull", "NSObject"}));
  EXPECT_EQ(members["set"]["$class"], nlohmann::json({"NSSet", "NSObject"}));
  EXPECT_TRUE(json["duplicateStrings"].empty()); // "/x" is written once
}

TEST(ArchiveFormat, PlistlibArchiveSurvivesOurRoundTrip) {
  NSError error;
  auto decoded = unarchivedObjectOfClasses(standardClasses(), pythonArchive("standard"), &error,
                                           testOptions());
  ASSERT_NE(decoded, nullptr);
  auto json = inspect(decoded);
  ASSERT_FALSE(json.is_discarded());
  EXPECT_EQ(json["root"]["$class"], nlohmann::json({"NSDictionary", "NSObject"}));
  EXPECT_EQ(json["root"]["NS.keys"].size(), 16u);
}

} // namespace
} // namespace archive_test

namespace archive_test {
namespace {

TEST(ArchiveFormat, LongContainersAndEveryStringFormSurviveBothReaders) {
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back("name" + std::to_string(i));
  }
  names.push_back("astral 😀 and ünïcödé");
  auto root = NSDictionary::make({
      {NSString::make("names"), NSArray::makeWithStrings(names)},
      {NSString::make("blob"), NSData::make(Bytes(70000, 0xab))},
      {NSString::make("broken"), NSString::make(std::string("a\xff"
                                                            "b"))},
      {NSString::make("big"), NSNumber::make(int64_t{1} << 40)},
  });
  auto json = inspect(root);
  ASSERT_FALSE(json.is_discarded());
  std::map<std::string, nlohmann::json> members;
  for (size_t i = 0; i < json["root"]["NS.keys"].size(); ++i) {
    members[json["root"]["NS.keys"][i]] = json["root"]["NS.objects"][i];
  }
  EXPECT_EQ(members["names"]["NS.objects"].size(), 301u);
  EXPECT_EQ(members["names"]["NS.objects"][300], "astral 😀 and ünïcödé");
  EXPECT_EQ(members["blob"]["$data"].get<std::string>().size(), 140000u);
  EXPECT_EQ(members["broken"], "a\uFFFDb");
  EXPECT_EQ(members["big"], int64_t{1} << 40);

  NSError error;
  auto bytes = archivedDataWithRootObject(root, true, &error);
  ASSERT_TRUE(bytes);
  auto decoded = std::dynamic_pointer_cast<NSDictionary>(unarchivedObjectOfClasses(
      {&NSDictionary::classObject(), &NSArray::classObject(), &NSString::classObject(),
       &NSData::classObject(), &NSNumber::classObject()},
      *bytes, &error, testOptions()));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<NSArray>(decoded->objectForKey("names"))->strings(), names);
  EXPECT_EQ(std::dynamic_pointer_cast<NSData>(decoded->objectForKey("blob"))->bytes().size(),
            70000u);

  // Each text is written once, however often it is used and however many texts there are.
  std::vector<std::string> twice = names;
  twice.insert(twice.end(), names.begin(), names.end());
  auto repeated = archivedDataWithRootObject(NSArray::makeWithStrings(twice), true, &error);
  ASSERT_TRUE(repeated);
  const std::string text(repeated->begin(), repeated->end());
  for (const std::string name : {"name0", "name150", "name299"}) {
    const size_t first = text.find(name);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find(name, first + 1), std::string::npos) << name;
  }
  auto decodedTwice = std::dynamic_pointer_cast<NSArray>(unarchivedObjectOfClasses(
      {&NSArray::classObject(), &NSString::classObject()}, *repeated, &error, testOptions()));
  ASSERT_NE(decodedTwice, nullptr);
  EXPECT_EQ(decodedTwice->strings(), twice);
}

} // namespace
} // namespace archive_test
