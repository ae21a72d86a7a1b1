#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(PropertyList, RoundTripsThroughXMLAndBinary) {
  PropertyList list = PropertyList::dictionary();
  list.setString("Label", "com.example.job");
  list.setBool("RunAtLoad", true);
  PropertyList ids = PropertyList::array();
  ids.appendUnsigned(501);
  ids.appendUnsigned(4294967295u);
  list.set("ids", std::move(ids));

  for (const std::string& bytes : {list.toXML(), list.toBinary()}) {
    auto parsed = PropertyList::parse(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->root()["Label"].stringValue(), "com.example.job");
    EXPECT_EQ(parsed->root()["RunAtLoad"].boolValue(), true);
    EXPECT_EQ(parsed->root()["ids"].arraySize(), 2u);
    EXPECT_EQ(parsed->root()["ids"].arrayItem(1).unsignedValue(), 4294967295u);
    EXPECT_TRUE(parsed->root()["missing"].isNull());
  }
}

TEST(PropertyList, ParseFailsWithAnErrorForGarbage) {
  NSError error;
  EXPECT_FALSE(PropertyList::parse("definitely not a plist", &error));
  EXPECT_EQ(error.domain(), NSCocoaErrorDomain);
  EXPECT_FALSE(PropertyList::parse("", &error));
  EXPECT_FALSE(PropertyList::parse(std::string("bplist00\x00\x01", 10), &error));
}

TEST(PropertyList, TypedAccessorsRefuseOtherTypes) {
  PropertyList list = PropertyList::dictionary();
  list.setString("s", "text");
  EXPECT_FALSE(list.root()["s"].unsignedValue());
  EXPECT_FALSE(list.root()["s"]["nested"].stringValue());
  EXPECT_EQ(list.root().dictionaryKeys(), std::vector<std::string>{"s"});
}

} // namespace
} // namespace platform
