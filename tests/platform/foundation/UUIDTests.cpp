#include "platform/foundation/UUID.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
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

TEST(UUID, AForkedChildNeverRepeatsItsParentsNextIdentifier) {
  UUID{}; // the thread's random bytes are fetched and partly used
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const UUID inChild;
    const bool written = ::write(channel[1], inChild.bytes().data(), inChild.bytes().size()) == 16;
    ::_exit(written ? 0 : 1);
  }
  const UUID inParent;
  UUID::Bytes fromChild{};
  EXPECT_EQ(::read(channel[0], fromChild.data(), fromChild.size()), 16);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(channel[0]);
  ::close(channel[1]);
  EXPECT_NE(UUID(fromChild), inParent);
}

} // namespace
} // namespace platform
