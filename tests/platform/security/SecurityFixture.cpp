#include "SecurityFixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace platform::security::testing {

SecurityWorld::SecurityWorld() {
  root = pki.makeRoot("root", {"Quillby Test Root", "", "Quillby Test", "GB"});
  untrustedRoot = pki.makeRoot("untrusted-root", {"Impostor Root", "", "Impostor", "GB"});
  intermediate =
      pki.makeIntermediate("intermediate", {"Quillby Test Intermediate", "", "", ""}, root);
  teamLeaf = pki.makeLeaf(
      "team", {"Developer ID Application: Quillby (Q4W7ZK2M9T)", kTeam, "Quillby Ltd", "GB"}, root);
  otherTeamLeaf = pki.makeLeaf(
      "other-team", {"Developer ID Application: Other (AB12CD34EF)", "AB12CD34EF", "Other", "US"},
      root);
  untrustedLeaf =
      pki.makeLeaf("untrusted", {"Impostor", kTeam, "Quillby Ltd", "GB"}, untrustedRoot);
  expiredLeaf = pki.makeLeaf("expired", {"Expired", kTeam, "Quillby Ltd", "GB"}, root, -30, -1);
  intermediateLeaf = pki.makeLeaf("intermediate-leaf",
                                  {"Below Intermediate", kTeam, "Quillby Ltd", "GB"}, intermediate);
  chainPath = intermediate.certificatePath;

  anchorsDirectory = directory.file("anchors");
  std::filesystem::create_directory(anchorsDirectory);
  std::filesystem::copy_file(root.certificatePath, anchorsDirectory + "/root.pem");
}

const SecurityWorld& world() {
  static SecurityWorld shared; // its directory is removed at exit
  return shared;
}

std::string copyProgram(const std::string& source, const std::string& name) {
  std::string path = world().directory.file(name);
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  ::chmod(path.c_str(), 0755);
  return path;
}

std::string signedProgram(const std::string& source, const std::string& name,
                          const std::string& identifier, const TestIdentity& identity,
                          const std::optional<std::string>& chainPath) {
  std::string path = copyProgram(source, name);
  SigningParameters parameters = identity.signingParameters(identifier);
  parameters.chainPath = chainPath;
  NSError error;
  EXPECT_TRUE(signFile(path, parameters, &error)) << error.localizedDescription();
  return path;
}

ValidationOptions testOptions() {
  ValidationOptions options;
  options.anchorsDirectory = world().anchorsDirectory;
  return options;
}

SecStatus validatePath(const std::string& path, const std::optional<std::string>& requirementText) {
  std::shared_ptr<StaticCode> code;
  if (SecStatus status = StaticCode::createWithPath(path, code); !status) {
    return status;
  }
  Requirement requirement;
  if (requirementText) {
    if (SecStatus status = Requirement::compile(*requirementText, requirement); !status) {
      return status;
    }
  }
  return code->checkValidity(testOptions(), requirementText ? &requirement : nullptr);
}

} // namespace platform::security::testing
