#include "agent/AutoConfigError.h"
#include "agent/HelperToolAutoConfig.h"

#include <gtest/gtest.h>

namespace agent {
namespace {

using platform::PropertyList;

std::string misconfiguration(const std::function<void()>& body) {
  try {
    body();
  } catch (const AutoConfigError& error) {
    return error.text();
  }
  return "<no error>";
}

PropertyList parse(const std::string& xmlDictionaryBody) {
  return HelperToolAutoConfig::parseEmbeddedPropertyList(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" +
          xmlDictionaryBody + "</dict></plist>",
      "__test");
}

// This test executable embeds the agent's own two property lists, so the whole reading path
// (loader handle, image marker, section bytes) runs as it does in the agent.
TEST(HelperToolAutoConfig, ReadsTheEmbeddedServiceNameAndRequirements) {
  EXPECT_EQ(HelperToolAutoConfig::machServiceName(), "com.quillby.Lumora5.Agent");
  auto clients = HelperToolAutoConfig::authorizedClients();
  ASSERT_EQ(clients.size(), 3u);
  EXPECT_EQ(clients[0], "identifier \"com.quillby.Lumora5\" and info [CFBundleShortVersionString] "
                        ">= \"0.0.1\" and anchor apple generic and certificate "
                        "leaf[subject.OU] = \"Q4W7ZK2M9T\"");
  EXPECT_NE(clients[1].find("\"com.quillby.Lumora5.Menu\""), std::string::npos);
  EXPECT_NE(clients[2].find("\"com.quillby.Lumora5.HealthMonitor\""), std::string::npos);
  auto info = HelperToolAutoConfig::readEmbeddedPropertyList("__info_plist");
  EXPECT_EQ(info.root()["CFBundleShortVersionString"].stringValue(), "5.3.1");
}

TEST(HelperToolAutoConfig, MissingSectionIsNamed) {
  EXPECT_EQ(misconfiguration([] { HelperToolAutoConfig::readEmbeddedPropertyList("__nothing"); }),
            "Missing property list section __nothing");
}

TEST(HelperToolAutoConfig, RootThatIsNotADictionaryIsRefused) {
  EXPECT_EQ(misconfiguration([] {
              HelperToolAutoConfig::parseEmbeddedPropertyList(
                  "<plist version=\"1.0\"><array/></plist>", "__info_plist");
            }),
            "No plist __info_plist is embedded to executable");
  EXPECT_THROW(HelperToolAutoConfig::parseEmbeddedPropertyList("garbage", "__info_plist"),
               platform::NSErrorException);
}

TEST(HelperToolAutoConfig, MachServicesOfTheWrongTypeIsMissingNotEmpty) {
  const char* missing = "launchd property list missing MachServices key";
  EXPECT_EQ(misconfiguration([] {
              HelperToolAutoConfig::machServiceName(
                  parse("<key>MachServices</key><string>x</string>"));
            }),
            missing);
  EXPECT_EQ(misconfiguration([] {
              HelperToolAutoConfig::machServiceName(parse("<key>MachServices</key><array/>"));
            }),
            missing);
  EXPECT_EQ(misconfiguration([] { HelperToolAutoConfig::machServiceName(parse("")); }), missing);
  EXPECT_EQ(misconfiguration([] {
              HelperToolAutoConfig::machServiceName(parse("<key>MachServices</key><dict/>"));
            }),
            "MachServices has no entries");
}

TEST(HelperToolAutoConfig, AuthorizedClientsMustAllBeStrings) {
  EXPECT_EQ(
      misconfiguration([] {
        HelperToolAutoConfig::authorizedClients(parse(
            "<key>SMAuthorizedClients</key><array><string>a</string><integer>1</integer></array>"));
      }),
      "Info property list missing SMAuthorizedClients key");
  EXPECT_TRUE(
      HelperToolAutoConfig::authorizedClients(parse("<key>SMAuthorizedClients</key><array/>"))
          .empty());
}

TEST(HelperToolAutoConfig, LocationMustBeTheHelperToolsDirectory) {
  const char* expected =
      "A blessed helper tool must be located in directory: /Library/PrivilegedHelperTools";
  EXPECT_NO_THROW(HelperToolAutoConfig::checkLocation(
      "/Library/PrivilegedHelperTools/com.quillby.Lumora5.Agent"));
  EXPECT_EQ(misconfiguration([] {
              HelperToolAutoConfig::checkLocation("/Library/PrivilegedHelperTools/sub/agent");
            }),
            expected);
  EXPECT_EQ(misconfiguration([] { HelperToolAutoConfig::checkLocation("/tmp/agent"); }), expected);
  EXPECT_EQ(misconfiguration([] { HelperToolAutoConfig::checkLocation(); }), expected);
}

TEST(HelperToolAutoConfig, ClientsGroupMustExistAndNotBeRoots) {
  // "daemon" is group 1 on every Debian system.
  EXPECT_EQ(HelperToolAutoConfig::clientsRuntimePolicy("daemon").clientsGroup, 1u);
  EXPECT_EQ(
      misconfiguration([] { HelperToolAutoConfig::clientsRuntimePolicy("no-such-group-7q"); }),
      "Cannot admit clients: the clients' group \"no-such-group-7q\" does not exist");
  EXPECT_EQ(
      misconfiguration([] { HelperToolAutoConfig::clientsRuntimePolicy("root"); }),
      "Cannot admit clients: the clients' group \"root\" is root's group, not a dedicated one");
}

} // namespace
} // namespace agent
