#include "LipoTestSupport.h"
#include "lipo/LRApplicationLaunchServices.h"
#include "lipo/LipoServiceExtensions.h"
#include "lipo/Sandbox.h"
#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace lipo::test {
namespace {

TEST(LipoServiceExtensionsTests, MapFilterAndFirst) {
  const std::vector<int> numbers{1, 2, 3, 4};
  auto doubledOdd = lipo_map(numbers, [](int value, size_t index) -> std::optional<size_t> {
    return value % 2 ? std::optional<size_t>(value * 10 + index) : std::nullopt;
  });
  EXPECT_EQ(doubledOdd, (std::vector<size_t>{10, 32}));
  EXPECT_EQ(lipo_map(numbers), numbers);
  EXPECT_EQ(lipo_filter(numbers, [](int value) { return value > 2; }), (std::vector<int>{3, 4}));
  int calls = 0;
  EXPECT_EQ(lipo_first(numbers, [&](int value) { return ++calls, value > 1; }), 2);
  EXPECT_EQ(calls, 2); // stops at the first match
  EXPECT_FALSE(lipo_contains(numbers, [](int value) { return value > 4; }));
}

TEST(SandboxTests, ExpandsAndCollapsesTheHomeFolder) {
  ::setenv("HOME", "/home/tester", 1);
  ::unsetenv("APP_SANDBOX_CONTAINER_ID");
  EXPECT_EQ(lipo_stringByExpandingTildeInPath("~/Library/x"), "/home/tester/Library/x");
  EXPECT_EQ(lipo_stringByExpandingTildeInPath("~"), "/home/tester");
  EXPECT_EQ(lipo_stringByExpandingTildeInPath("/abs/~"), "/abs/~");
  EXPECT_EQ(lipo_stringByCollapsingTildeInPath("/home/tester/a:/home/tester/b"), "~/a:~/b");

  // In a sandbox the container's HOME is passed over for the user database's entry.
  ::setenv("APP_SANDBOX_CONTAINER_ID", "container", 1);
  const std::string expanded = lipo_stringByExpandingTildeInPath("~/Library");
  ::unsetenv("APP_SANDBOX_CONTAINER_ID");
  EXPECT_NE(expanded.rfind("/home/tester", 0), 0u);
  EXPECT_EQ(expanded.substr(expanded.size() - 8), "/Library");
}

TEST(LRApplicationLaunchServicesTests, ReadsTheChosenBundleIdentifiers) {
  TemporaryDirectory directory;
  auto list = platform::PropertyList::dictionary();
  auto arm = platform::PropertyList::dictionary();
  arm.setString("com.example.One", "x");
  arm.setString("", "x");
  list.set("Architectures for arm64", std::move(arm));
  auto intel = platform::PropertyList::dictionary();
  intel.setString("com.example.Two", "x");
  list.set("Architectures for x86_64", std::move(intel));
  const std::string binary = list.toBinary();
  writeFile(directory.file("ls.plist"), Bytes(binary.begin(), binary.end()));

  LRApplicationLaunchServices services(directory.file("ls.plist"));
  EXPECT_EQ(services.bundleIdentifiersForArm64(), std::vector<std::string>{"com.example.One"});
  EXPECT_EQ(services.bundleIdentifiersForx86_64(), std::vector<std::string>{"com.example.Two"});
  EXPECT_TRUE(services.architectureWasChangedForBundleIdentifier("COM.example.two"));
  EXPECT_FALSE(services.architectureWasChangedForBundleIdentifier("com.example.Three"));
  EXPECT_TRUE(
      LRApplicationLaunchServices(directory.file("missing")).bundleIdentifiersForArm64().empty());
}

} // namespace
} // namespace lipo::test
