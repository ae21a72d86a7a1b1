#include "platform/foundation/SystemVersion.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SystemVersion, ComparesPartByPart) {
  const SystemVersion threshold{12, 7, 0};
  EXPECT_TRUE((SystemVersion{12, 7, 0}).isAtLeast(threshold));
  EXPECT_TRUE((SystemVersion{12, 7, 1}).isAtLeast(threshold));
  EXPECT_TRUE((SystemVersion{13, 0, 0}).isAtLeast(threshold));
  EXPECT_FALSE((SystemVersion{12, 6, 9}).isAtLeast(threshold));
  EXPECT_FALSE((SystemVersion{11, 99, 99}).isAtLeast(threshold));
  EXPECT_EQ(threshold.description(), "12.7.0");
}

TEST(SystemVersion, TheProviderCanBeReplacedAndRestored) {
  EXPECT_EQ(SystemVersion::current(), SystemVersion::defaultVersion());
  SystemVersion::setProviderForTest([] { return SystemVersion{10, 15, 7}; });
  EXPECT_EQ(SystemVersion::current(), (SystemVersion{10, 15, 7}));
  SystemVersion::setProviderForTest(nullptr);
  EXPECT_EQ(SystemVersion::current(), SystemVersion::defaultVersion());
}

} // namespace
} // namespace platform
