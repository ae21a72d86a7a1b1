#include "SecurityFixture.h"
#include "platform/security/Requirement.h"
#include "platform/security/VersionCompare.h"

#include <gtest/gtest.h>

namespace platform::security {
namespace {

using testing::kHealthMonitorRequirement;
using testing::kMainAppRequirement;
using testing::kMenuRequirement;

std::string canonical(const std::string& text) {
  Requirement requirement;
  SecStatus status = Requirement::compile(text, requirement);
  EXPECT_TRUE(status.ok()) << text << ": " << status.description();
  return requirement.canonicalText();
}

OSStatus compileStatus(const std::string& text) {
  Requirement requirement;
  return Requirement::compile(text, requirement).code();
}

Certificate certificateWith(const std::string& commonName, const std::string& unit) {
  Certificate certificate;
  certificate.subject.push_back({subjectFieldNid("CN"), "CN", commonName});
  if (!unit.empty()) {
    certificate.subject.push_back({subjectFieldNid("OU"), "OU", unit});
  }
  return certificate;
}

// Facts of a signed client: identifier, version and chain as the tests choose.
struct ClientFacts {
  PropertyList info = PropertyList::dictionary();
  RequirementContext context;

  ClientFacts(const std::string& identifier, const std::string& version,
              const std::string& unit = "Q4W7ZK2M9T", bool trusted = true) {
    info.setString("CFBundleShortVersionString", version);
    context.identifier = identifier;
    context.info = &info;
    context.chain = {certificateWith("Leaf", unit), certificateWith("Intermediate", ""),
                     certificateWith("Root", "")};
    context.anchorTrusted = trusted;
  }
};

bool satisfies(const std::string& text, const RequirementContext& context) {
  Requirement requirement;
  SecStatus status = Requirement::compile(text, requirement);
  EXPECT_TRUE(status.ok()) << status.description();
  return requirement.isSatisfiedBy(context);
}

TEST(RequirementTest, TheClientRequirementStringsCompileToTheirFourClauses) {
  EXPECT_EQ(canonical(kMainAppRequirement),
            "(((identifier \"com.quillby.Lumora5\" and info [CFBundleShortVersionString] >= "
            "\"0.0.1\") and anchor apple generic) and certificate leaf[subject.OU] = "
            "\"Q4W7ZK2M9T\")");
  EXPECT_NE(canonical(kMenuRequirement).find("identifier \"com.quillby.Lumora5.Menu\""),
            std::string::npos);
  EXPECT_NE(
      canonical(kHealthMonitorRequirement).find("identifier \"com.quillby.Lumora5.HealthMonitor\""),
      std::string::npos);
}

TEST(RequirementTest, EachClientRequirementAdmitsOnlyItsOwnClient) {
  const std::pair<std::string, std::string> clients[] = {
      {kMainAppRequirement, "com.quillby.Lumora5"},
      {kMenuRequirement, "com.quillby.Lumora5.Menu"},
      {kHealthMonitorRequirement, "com.quillby.Lumora5.HealthMonitor"}};
  for (const auto& [requirement, identifier] : clients) {
    for (const auto& [other, otherIdentifier] : clients) {
      ClientFacts facts(otherIdentifier, "5.3.1");
      EXPECT_EQ(satisfies(requirement, facts.context), identifier == otherIdentifier)
          << requirement << " vs " << otherIdentifier;
    }
  }
}

TEST(RequirementTest, ClientRequirementRefusesLowVersionOtherTeamAndUntrustedChain) {
  EXPECT_FALSE(satisfies(kMainAppRequirement, ClientFacts("com.quillby.Lumora5", "0.0.0").context));
  EXPECT_TRUE(satisfies(kMainAppRequirement, ClientFacts("com.quillby.Lumora5", "0.0.1").context));
  EXPECT_FALSE(satisfies(kMainAppRequirement,
                         ClientFacts("com.quillby.Lumora5", "1.0", "AB12CD34EF").context));
  EXPECT_FALSE(satisfies(kMainAppRequirement,
                         ClientFacts("com.quillby.Lumora5", "1.0", "Q4W7ZK2M9T", false).context));
  ClientFacts noInfo("com.quillby.Lumora5", "1.0");
  noInfo.context.info = nullptr;
  EXPECT_FALSE(satisfies(kMainAppRequirement, noInfo.context));
}

TEST(RequirementTest, AndBindsTighterThanOrAndNotTighterThanBoth) {
  EXPECT_EQ(canonical("identifier a or identifier b and identifier c"),
            "(identifier \"a\" or (identifier \"b\" and identifier \"c\"))");
  EXPECT_EQ(canonical("identifier a and identifier b or identifier c"),
            "((identifier \"a\" and identifier \"b\") or identifier \"c\")");
  EXPECT_EQ(canonical("!identifier a and identifier b"),
            "(!identifier \"a\" and identifier \"b\")");
  EXPECT_EQ(canonical("!(identifier a or identifier b)"),
            "!(identifier \"a\" or identifier \"b\")");
  EXPECT_EQ(canonical("((identifier a) and (!!identifier b or (identifier c)))"),
            "(identifier \"a\" and (!!identifier \"b\" or identifier \"c\"))");
  ClientFacts facts("c", "1");
  EXPECT_TRUE(
      satisfies("identifier a or identifier b and identifier x or identifier c", facts.context));
  EXPECT_FALSE(satisfies("(identifier a or identifier c) and identifier x", facts.context));
  EXPECT_TRUE(satisfies("!identifier a and !(identifier b)", facts.context));
}

TEST(RequirementTest, StringsQuotedUnquotedAndEscaped) {
  EXPECT_EQ(canonical("identifier = \"com.x\""), "identifier \"com.x\"");
  EXPECT_EQ(canonical("identifier com.quillby.Lumora5"), "identifier \"com.quillby.Lumora5\"");
  EXPECT_EQ(canonical("identifier \"a\\\"b\\\\c\""), "identifier \"a\\\"b\\\\c\"");
  EXPECT_EQ(canonical("info [\"Key With Space\"] exists"), "info [Key With Space] exists");
  EXPECT_EQ(canonical("  identifier\t\"x\"\n"), "identifier \"x\"");
  ClientFacts facts("a\"b", "1");
  EXPECT_TRUE(satisfies("identifier \"a\\\"b\"", facts.context));
}

TEST(RequirementTest, InfoComparisonsAreVersionAware) {
  ClientFacts facts("x", "0.0.10");
  EXPECT_TRUE(satisfies("info [CFBundleShortVersionString] > \"0.0.1\"", facts.context));
  EXPECT_TRUE(satisfies("info [CFBundleShortVersionString] > \"0.0.9\"", facts.context));
  EXPECT_TRUE(satisfies("info [CFBundleShortVersionString] <= \"0.0.10\"", facts.context));
  EXPECT_FALSE(satisfies("info [CFBundleShortVersionString] < \"0.0.10\"", facts.context));
  EXPECT_TRUE(satisfies("info [CFBundleShortVersionString] = \"0.0.10\"", facts.context));
  EXPECT_FALSE(satisfies("info [CFBundleShortVersionString] = \"0.0.010\"", facts.context));
  EXPECT_TRUE(satisfies("info [CFBundleShortVersionString] exists", facts.context));
  EXPECT_FALSE(satisfies("info [Missing] exists", facts.context));
  EXPECT_TRUE(satisfies("!info [Missing] = \"1\"", facts.context));
}

TEST(RequirementTest, CertificatePositionsAndFields) {
  ClientFacts facts("x", "1");
  EXPECT_TRUE(satisfies("certificate leaf[subject.CN] = \"Leaf\"", facts.context));
  EXPECT_TRUE(satisfies("certificate 1[subject.CN] = Intermediate", facts.context));
  EXPECT_TRUE(satisfies("certificate root[subject.CN] = \"Root\"", facts.context));
  EXPECT_TRUE(satisfies("certificate -2[subject.CN] = \"Intermediate\"", facts.context));
  EXPECT_FALSE(satisfies("certificate 3[subject.CN] exists", facts.context));
  EXPECT_FALSE(satisfies("certificate root[subject.OU] exists", facts.context));
  EXPECT_TRUE(satisfies("cert leaf[subject.OU] exists", facts.context));
  facts.context.chain[0].sha1Hex = "00112233445566778899aabbccddeeff00112233";
  EXPECT_TRUE(
      satisfies("certificate leaf = H\"00112233445566778899AABBCCDDEEFF00112233\"", facts.context));
}

TEST(RequirementTest, MalformedTextIsInvalid) {
  for (const char* text : {"",
                           "   ",
                           "identifier",
                           "identifier \"x\" and",
                           "and identifier x",
                           "(identifier \"x\"",
                           "identifier \"x\")",
                           "identifier \"unterminated",
                           "info [CFBundleShortVersionString] >= ",
                           "info CFBundleShortVersionString >= \"1\"",
                           "info [K] == \"1\"",
                           "certificate leaf[subject.OU] \"x\"",
                           "certificate[subject.OU] = x",
                           "certificate 999[subject.CN] = x",
                           "certificate leaf[subject.NOPE] = x",
                           "anchor",
                           "anchor generic",
                           "identifier x && identifier y",
                           "identifier x or or identifier y",
                           "frobnicate",
                           "identifier and",
                           "!",
                           "()",
                           "identifier x identifier y",
                           "identifier \"x\" ; rm -rf /",
                           "identifier \"x\\"}) {
    EXPECT_EQ(compileStatus(text), errSecCSReqInvalid) << "\"" << text << "\"";
  }
  EXPECT_EQ(compileStatus(std::string(200, '(') + "always" + std::string(200, ')')),
            errSecCSReqInvalid);
  EXPECT_EQ(compileStatus(std::string(200, '!') + "always"), errSecCSReqInvalid);
  EXPECT_EQ(compileStatus("identifier \"" + std::string(20000, 'a') + "\""), errSecCSReqInvalid);
}

TEST(RequirementTest, RecognisedButUnevaluatedConstructsAreUnsupported) {
  for (const char* text : {"cdhash H\"00\"", "anchor apple", "entitlement [\"x\"] exists",
                           "notarized", "certificate leaf[field.1.2.840.113635.100.6.1.13] exists",
                           "platform = 1", "identifier x and certificate leaf trusted"}) {
    EXPECT_EQ(compileStatus(text), errSecCSReqUnsupported) << text;
  }
}

TEST(VersionCompareTest, DigitRunsCompareAsNumbers) {
  EXPECT_LT(compareNumerically("0.0.1", "0.0.10"), 0);
  EXPECT_LT(compareNumerically("0.0.9", "0.0.10"), 0);
  EXPECT_GT(compareNumerically("5.3.1", "0.0.1"), 0);
  EXPECT_LT(compareNumerically("0.0.0", "0.0.1"), 0);
  EXPECT_EQ(compareNumerically("1.01", "1.1"), 0);
  EXPECT_LT(compareNumerically("1.0", "1.0.0"), 0);
  EXPECT_LT(compareNumerically("1.0b2", "1.0b10"), 0);
  EXPECT_LT(compareNumerically("", "0"), 0);
  EXPECT_LT(compareNumerically("99999999999999999999999", "100000000000000000000000"), 0);
}

} // namespace
} // namespace platform::security
