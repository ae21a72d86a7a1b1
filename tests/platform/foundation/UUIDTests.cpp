#include "platform/foundation/UUID.h"

#include <gtest/gtest.h>
#include <unordered_set>

namespace platform {
namespace {

TEST(UUID, TextIsCanonicalUpperCaseAndParsesBack) {
  auto uuid = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(uuid);
  EXPECT_EQ(uuid->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  EXPECT_EQ(UUID::fromString(uuid->uuidString()), uuid);
}

TEST(UUID, RejectsMalformedText) {
  EXPECT_FALSE(UUID::fromString(""));
  EXPECT_FALSE(UUID::fromString("E621E1F8C36C495A93FC0C247A3E6E5F"));
  EXPECT_FALSE(UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5G"));
  EXPECT_FALSE(UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"));
}

TEST(UUID, FreshIdentifiersAreVersionFourAndDistinct) {
  std::unordered_set<UUID> seen;
  for (int i = 0; i < 1000; ++i) {
    UUID uuid;
    EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
    EXPECT_TRUE(seen.insert(uuid).second);
  }
}

} // namespace
} // namespace platform
