#include "platform/archive/Values.h"
#include "platform/security/CodeSigner.h"
#include "platform/security/SecStatus.h"
#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"
#include "tasks/signatures/KLVSecurityLibraryBasedSignatureProvider.h"
#include "tasks/signatures/KLVSignatureAccessService.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdexcept>
#include <unistd.h>

using namespace tasks;
namespace fs = std::filesystem;
using platform::URL;

namespace {

constexpr const char* kTeam = "Q4W7ZK2M9T";

// A self-signed code-signing identity written as PEM files; `organizationalUnit` may be empty.
platform::security::SigningParameters
makeIdentity(const fs::path& directory, const std::string& name, const std::string& commonName,
             const std::string& organizationalUnit, const std::string& identifier) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
  if (!key || !certificate) {
    throw std::runtime_error("cannot make a test identity");
  }
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -86400);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 30 * 86400);
  X509_set_pubkey(certificate.get(), key.get());
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  auto add = [subject](const char* field, const std::string& value) {
    if (!value.empty()) {
      X509_NAME_add_entry_by_txt(subject, field, MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0);
    }
  };
  add("CN", commonName);
  add("OU", organizationalUnit);
  X509_set_issuer_name(certificate.get(), subject);
  X509_sign(certificate.get(), key.get(), EVP_sha256());

  const std::string keyPath = (directory / (name + ".key.pem")).string();
  const std::string certificatePath = (directory / (name + ".pem")).string();
  FILE* file = std::fopen(keyPath.c_str(), "w");
  PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(file);
  file = std::fopen(certificatePath.c_str(), "w");
  PEM_write_X509(file, certificate.get());
  std::fclose(file);
  return {identifier, keyPath, certificatePath, std::nullopt};
}

class SignatureAccessTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    directory_ = fs::temp_directory_path() / ("klv-signature-" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    auto team = makeIdentity(directory_, "team", "Developer ID Application: Quillby (Q4W7ZK2M9T)",
                             kTeam, "com.quillby.test.signed");
    auto noTeam =
        makeIdentity(directory_, "no-team", "Developer ID Application: Other (AB12CD34EF)", "",
                     "com.quillby.test.noteam");
    sign("signed", team);
    sign("Installer.PKG", team);
    sign("no-team", noTeam);
    fs::copy_file("/bin/true", directory_ / "unsigned");
  }
  static void TearDownTestSuite() { fs::remove_all(directory_); }

  static void sign(const std::string& name, const platform::security::SigningParameters& identity) {
    fs::copy_file("/bin/true", directory_ / name);
    platform::NSError error;
    ASSERT_TRUE(platform::security::signFile((directory_ / name).string(), identity, &error))
        << error.description();
  }
  static std::string path(const std::string& name) { return (directory_ / name).string(); }
  static URL url(const std::string& name) { return URL::fileURLWithPath(path(name)); }

  static fs::path directory_;
};

fs::path SignatureAccessTest::directory_;

std::string stringValue(const ResultPtr& result) {
  auto text = std::dynamic_pointer_cast<platform::archive::NSString>(result->value());
  return text ? text->value() : std::string("<not a string>");
}

// Records which paths reach it and answers a fixed team.
class RecordingProvider : public KLVSignatureProvider {
public:
  mutable std::vector<std::string> paths;
  std::optional<std::string> fetchTeamIdentifierForPath(const std::string& path, bool,
                                                        platform::NSError*) const override {
    paths.push_back(path);
    return "PACKAGE";
  }
  std::optional<std::string> fetchBundleIdentifierForPath(const std::string&,
                                                          platform::NSError*) const override {
    return std::nullopt;
  }
  std::optional<std::vector<std::string>>
  fetchCertificateNamesForPath(const std::string&, platform::NSError*) const override {
    return std::nullopt;
  }
};

} // namespace

TEST_F(SignatureAccessTest, TheTasksAnswerTheSigningTeamAndIdentifier) {
  auto team = KLVPrivilegedAccessTeamIdentifierTask(url("signed"), true).perform();
  EXPECT_EQ(team->type(), KLVResultObject::success);
  EXPECT_EQ(stringValue(team), kTeam);
  auto bundle = KLVPrivilegedAccessBundleIdentifierTask(url("signed")).perform();
  EXPECT_EQ(bundle->type(), KLVResultObject::success);
  EXPECT_EQ(stringValue(bundle), "com.quillby.test.signed");

  platform::NSError error;
  auto names = KLVSignatureAccessService().fetchCertificateNamesForPath(path("signed"), &error);
  EXPECT_EQ(names, (std::vector<std::string>{"Developer ID Application: Quillby (Q4W7ZK2M9T)"}));
}

TEST_F(SignatureAccessTest, AnUnsignedOrMissingFileIsAFailureWithItsStatus) {
  auto unsignedTeam = KLVPrivilegedAccessTeamIdentifierTask(url("unsigned"), false).perform();
  EXPECT_EQ(unsignedTeam->type(), KLVResultObject::failure);
  const platform::NSError& error = *unsignedTeam->error();
  EXPECT_EQ(error.domain(), "SignatureAccessErrorDomain");
  EXPECT_EQ(error.code(), kKLVSignatureAccessSigningInformationFailed);
  EXPECT_EQ(error.stringForKey(platform::NSFilePathErrorKey), path("unsigned"));
  ASSERT_NE(error.underlyingError(), nullptr);
  EXPECT_EQ(error.underlyingError()->domain(), platform::NSOSStatusErrorDomain);
  EXPECT_EQ(error.underlyingError()->code(), platform::security::errSecCSUnsigned);

  auto missing = KLVPrivilegedAccessBundleIdentifierTask(url("absent")).perform();
  EXPECT_EQ(missing->type(), KLVResultObject::failure);
  EXPECT_EQ(missing->error()->code(), kKLVSignatureAccessStaticCodeFailed);
  EXPECT_EQ(missing->error()->underlyingError()->code(),
            platform::security::errSecCSStaticCodeNotFound);

  // A URL without a file-system path gives no answer and no error.
  auto remote =
      KLVPrivilegedAccessBundleIdentifierTask(*URL::fromString("https://example.com/x")).perform();
  EXPECT_EQ(remote->type(), KLVResultObject::empty);
}

TEST_F(SignatureAccessTest, ASignatureWithoutATeamGivesAnEmptyResult) {
  for (bool checkValidity : {false, true}) {
    auto team = KLVPrivilegedAccessTeamIdentifierTask(url("no-team"), checkValidity).perform();
    EXPECT_EQ(team->type(), KLVResultObject::empty) << checkValidity;
  }
  auto bundle = KLVPrivilegedAccessBundleIdentifierTask(url("no-team")).perform();
  EXPECT_EQ(stringValue(bundle), "com.quillby.test.noteam");
}

TEST_F(SignatureAccessTest, TheRevokedPathFindsTheTeamInTheFirstCommonNameThatNamesOne) {
  auto certificate = [](std::string commonName) {
    platform::security::Certificate made;
    made.subject.push_back({NID_commonName, "CN", std::move(commonName)});
    return made;
  };
  KLVSecurityLibraryBasedSignatureProvider provider;
  EXPECT_EQ(
      provider.teamIdentifierFromCommonNames(
          {certificate("No team here"), certificate("Developer ID Application: X (ab12CD34ef)"),
           certificate("Later (ZZZZZZZZZZ)")}),
      "ab12CD34ef");
  EXPECT_EQ(provider.teamIdentifierFromCommonNames({certificate("Empty ()")}), std::nullopt);
  EXPECT_EQ(provider.teamIdentifierFromCommonNames({}), std::nullopt);
}

TEST_F(SignatureAccessTest, PackagesAreChosenByTheirLowerCasedExtensionAndFallBackHere) {
  // This system has no package framework: its loading failure is logged and packages fall back.
  ::testing::internal::CaptureStderr();
  KLVSignatureAccessService service;
  const std::string logged = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(logged.find("Error was occurred while initialising pkg signature provider, "
                        "Error Domain=SignatureAccessErrorDomain Code=103"),
            std::string::npos)
      << logged;
  EXPECT_TRUE(service.providersDependedOnExtensions().empty());
  platform::NSError error;
  EXPECT_EQ(service.fetchTeamIdentifierForPath(path("Installer.PKG"), false, &error), kTeam);

  auto packages = std::make_shared<RecordingProvider>();
  KLVSignatureAccessService routed({{"pkg", packages}}, nullptr);
  EXPECT_EQ(routed.fetchTeamIdentifierForPath(path("Installer.PKG"), false, nullptr), "PACKAGE");
  EXPECT_EQ(routed.fetchTeamIdentifierForPath(path("signed"), false, nullptr), kTeam);
  EXPECT_EQ(routed.fetchTeamIdentifierForPath("/tmp/.pkg", false, nullptr), std::nullopt);
  EXPECT_EQ(packages->paths, (std::vector<std::string>{path("Installer.PKG")}));
}
