#include "ArchiveTestSupport.h"
#include "TestClasses.h"
#include "platform/archive/BinaryPropertyListValidator.h"

#include <gtest/gtest.h>

namespace archive_test {
namespace {

std::string refusal(const Bytes& bytes, const UnarchiveOptions& options = testOptions()) {
  NSError error;
  auto object = unarchivedObjectOfClasses({&ObjectClass::NSObject()}, bytes, &error, options);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(error.code(), NSCoderReadCorruptError);
  return error.stringForKey(NSDebugDescriptionErrorKey).value_or("");
}

void expectRefused(const std::string& name, const std::string& fragment) {
  const std::string text = refusal(pythonArchive(name));
  EXPECT_NE(text.find(fragment), std::string::npos) << name << ": " << text;
}

// Builds a binary property list from raw object encodings (one-byte references, two-byte
// offsets), the way the format lays it out.
Bytes binaryPlist(const std::vector<Bytes>& objects, uint8_t top = 0) {
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<uint16_t> offsets;
  for (const auto& object : objects) {
    offsets.push_back(static_cast<uint16_t>(out.size()));
    out.insert(out.end(), object.begin(), object.end());
  }
  const uint64_t tableAt = out.size();
  for (auto offset : offsets) {
    out.push_back(static_cast<uint8_t>(offset >> 8));
    out.push_back(static_cast<uint8_t>(offset));
  }
  Bytes trailer(32, 0);
  trailer[6] = 2;
  trailer[7] = 1;
  trailer[15] = static_cast<uint8_t>(objects.size());
  trailer[23] = top;
  for (int i = 0; i < 8; ++i) {
    trailer[31 - i] = static_cast<uint8_t>(tableAt >> (8 * i));
  }
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

std::optional<std::string> validate(const Bytes& bytes) {
  return validateBinaryPropertyList(bytes, ArchiveLimits());
}

TEST(MalformedArchive, ArchiveLevelFaultsAreRefused) {
  expectRefused("wrong-version", "incomprehensible archive version");
  expectRefused("wrong-archiver", "\"$archiver\" is not \"NSKeyedArchiver\"");
  expectRefused("no-null", "does not start with \"$null\"");
  expectRefused("root-out-of-range", "root reference is out of range");
  expectRefused("xml", "missing the \"bplist00\" header");
  EXPECT_NE(refusal({}).find("data is empty"), std::string::npos);
  EXPECT_NE(refusal(Bytes(100, 'x')).find("incomprehensible archive"), std::string::npos);
}

TEST(MalformedArchive, ObjectLevelFaultsAreRefused) {
  expectRefused("cycle", "refers back to itself");
  expectRefused("self-reference", "refers back to itself");
  expectRefused("uid-out-of-range", "not a value or a reference in range");
  expectRefused("missing-class", "has no \"$class\"");
  expectRefused("class-record-without-name", "has no \"$class\"");
  expectRefused("class-record-as-object", "is not an archived object");
  expectRefused("null-element", "is null or could not be decoded");
  expectRefused("dictionary-mismatch", "differ in length");
  expectRefused("uuid-short", "\"NS.uuidbytes\" is not 16 bytes");
  expectRefused("nested-dictionary-value", "not a value or a reference in range");
}

TEST(MalformedArchive, DepthAndWorkAreBounded) {
  NSError error;
  EXPECT_NE(unarchivedObjectOfClasses({&NSArray::classObject()}, pythonArchive("nested-100"),
                                      &error, testOptions()),
            nullptr);
  expectRefused("deep", "nests objects too deeply");

  EXPECT_NE(unarchivedObjectOfClasses({&NSArray::classObject(), &NSString::classObject()},
                                      pythonArchive("wide"), &error, testOptions()),
            nullptr);
  UnarchiveOptions tight = testOptions();
  tight.limits.maxObjectReferences = 1000;
  EXPECT_NE(refusal(pythonArchive("wide"), tight).find("too many objects"), std::string::npos);
  expectRefused("error-bomb", "holds too many errors");
  tight = testOptions();
  tight.limits.maxArchiveBytes = 64;
  EXPECT_NE(refusal(pythonArchive("wide"), tight).find("larger than the limit"), std::string::npos);
}

TEST(MalformedArchive, EveryTruncationAndByteFlipIsRefusedOrDecodedWithoutHarm) {
  const Bytes original = pythonArchive("standard");
  for (size_t length = 0; length < original.size(); ++length) {
    NSError error;
    EXPECT_EQ(unarchivedObjectOfClasses({&ObjectClass::NSObject()},
                                        Bytes(original.begin(), original.begin() + length), &error,
                                        testOptions()),
              nullptr);
  }
  for (size_t position = 0; position < original.size(); ++position) {
    for (uint8_t flip : {0x01, 0x10, 0x80, 0xff}) {
      Bytes damaged = original;
      damaged[position] ^= flip;
      NSError error;
      unarchivedObjectOfClasses({&ObjectClass::NSObject()}, damaged, &error, testOptions());
    }
  }
}

TEST(BinaryPropertyListValidator, AcceptsWellFormedLists) {
  // ["a", 1, {"k": true}]
  EXPECT_EQ(validate(binaryPlist(
                {{0xA3, 1, 2, 3}, {0x51, 'a'}, {0x10, 1}, {0xD1, 5, 4}, {0x09}, {0x51, 'k'}})),
            std::nullopt);
}

TEST(BinaryPropertyListValidator, RefusesStructuralFaults) {
  EXPECT_EQ(validate(binaryPlist({{0xA1, 0}})), "reference cycle");
  EXPECT_EQ(validate(binaryPlist({{0xA1, 7}})), "object reference out of range");
  EXPECT_EQ(validate(binaryPlist({{0xD1, 1, 1}, {0x10, 1}})), "dictionary key is not a string");
  // An array that claims 2^40 elements.
  EXPECT_EQ(validate(binaryPlist({{0xAF, 0x13, 0, 0, 1, 0, 0, 0, 0, 0}})),
            "container count out of bounds");
  EXPECT_EQ(validate(binaryPlist({{0xAF, 0x10, 200, 1}})), "container runs past the end");
  EXPECT_EQ(validate(binaryPlist({{0x5F, 0x10, 250, 'a'}})), "data or string runs past the end");
  EXPECT_EQ(validate(binaryPlist({{0x00}})), "unsupported object");
  EXPECT_EQ(validate(binaryPlist({{0xC1, 0}})), "unsupported object kind");
  EXPECT_EQ(validate(binaryPlist({{0x82, 1, 2, 3}})), "invalid UID size");
  EXPECT_EQ(validate(binaryPlist({{0x52, 'a', 0}})),
            "ASCII string holds a NUL or a non-ASCII byte");
  EXPECT_EQ(validate(binaryPlist({{0x61, 0xD8, 0x00}})),
            "UTF-16 string holds a NUL or an unpaired surrogate");

  Bytes badOffset = binaryPlist({{0x09}});
  badOffset[badOffset.size() - 32 - 1] = 0xff; // the one offset now points into the table
  EXPECT_EQ(validate(badOffset), "object offset out of bounds");
  Bytes badTable = binaryPlist({{0x09}});
  badTable[badTable.size() - 1] = 0xff;
  EXPECT_EQ(validate(badTable), "offset table out of bounds");
  Bytes badTop = binaryPlist({{0x09}}, 5);
  EXPECT_EQ(validate(badTop), "top object out of range");

  // Two objects whose offsets point at the same 100-byte string: repeated, such offsets would
  // make each check and each copy go over those bytes once per object.
  Bytes longString = {0x5F, 0x10, 100};
  longString.resize(longString.size() + 100, 'a');
  Bytes shared = binaryPlist({{0xA2, 1, 2}, longString, {0x09}});
  const size_t table = shared.size() - 32 - 3 * 2;
  shared[table + 4] = shared[table + 2];
  shared[table + 5] = shared[table + 3];
  EXPECT_EQ(validate(shared), "objects share their bytes");
}

TEST(BinaryPropertyListValidator, RefusesListsThatExpandTooFarOrNestTooDeeply) {
  // 25 arrays, each holding the next twice: 2^25 nodes once shared references are copied.
  std::vector<Bytes> doubling;
  for (uint8_t i = 0; i < 25; ++i) {
    doubling.push_back({0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1)});
  }
  doubling.push_back({0x09});
  EXPECT_EQ(validate(binaryPlist(doubling)), "property list expands to too many nodes");

  std::vector<Bytes> chain;
  for (uint8_t i = 0; i < 40; ++i) {
    chain.push_back({0xA1, static_cast<uint8_t>(i + 1)});
  }
  chain.push_back({0x09});
  EXPECT_EQ(validate(binaryPlist(chain)), "property list nested too deeply");
}

} // namespace
} // namespace archive_test
