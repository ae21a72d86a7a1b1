#include "operations/HealthCheckPrivilegedOperations.h"

#include <gtest/gtest.h>

namespace operations {
namespace {

platform::PropertyList infoWith(const std::string& versionEntry) {
  auto list = platform::PropertyList::parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
      "<key>CFBundleIdentifier</key><string>com.quillby.Lumora5.Agent</string>" +
      versionEntry + "</dict></plist>");
  return std::move(*list);
}

// This test executable embeds the agent's Info property list, as the agent does.
TEST(HealthCheckPrivilegedOperations, AnswersTheEmbeddedVersionAndANonDecreasingTime) {
  HealthCheckPrivilegedOperations operations;
  const double before = platform::Date::now().timeIntervalSinceReferenceDate();
  auto first = operations.healthCheck();
  auto second = operations.healthCheck();
  EXPECT_EQ(first.version, "5.3.1");
  EXPECT_EQ(second.version, "5.3.1");
  EXPECT_GE(first.timestamp.timeIntervalSinceReferenceDate(), before);
  EXPECT_LE(first.timestamp.timeIntervalSinceReferenceDate(),
            second.timestamp.timeIntervalSinceReferenceDate());
}

TEST(HealthCheckPrivilegedOperations, VersionIsUnknownUnlessAString) {
  using Operations = HealthCheckPrivilegedOperations;
  EXPECT_EQ(Operations::versionFromInfoDictionary(nullptr), "unknown");
  auto missing = infoWith("");
  EXPECT_EQ(Operations::versionFromInfoDictionary(&missing), "unknown");
  auto number = infoWith("<key>CFBundleShortVersionString</key><integer>5</integer>");
  EXPECT_EQ(Operations::versionFromInfoDictionary(&number), "unknown");
  auto text = infoWith("<key>CFBundleShortVersionString</key><string> 6.0 beta</string>");
  EXPECT_EQ(Operations::versionFromInfoDictionary(&text), " 6.0 beta");
  auto array = platform::PropertyList::array();
  EXPECT_EQ(Operations::versionFromInfoDictionary(&array), "unknown");
}

} // namespace
} // namespace operations
