#include "SecurityFixture.h"
#include "platform/security/TrustAnchors.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::security {
namespace {

using namespace testing;

// A directory with the world's root certificate, made under `parent`.
struct AnchorDirectory {
  TemporaryDirectory directory;
  std::string anchors;
  explicit AnchorDirectory(const std::string& parent) : directory(parent) {
    ::chmod(directory.path().c_str(), 0755);
    anchors = directory.file("anchors");
    std::filesystem::create_directory(anchors);
    ::chmod(anchors.c_str(), 0755);
    std::filesystem::copy_file(world().root.certificatePath, anchors + "/root.pem");
    ::chmod((anchors + "/root.pem").c_str(), 0644);
  }
};

OSStatus loadProduction(const std::string& directory, std::string* message = nullptr) {
  std::shared_ptr<const TrustAnchors> anchors;
  SecStatus status = TrustAnchors::load(directory, TrustAnchors::Mode::production, anchors);
  if (message != nullptr) {
    *message = status.message();
  }
  return status.code();
}

// A directory that only root may write, all the way up, to make production anchors in.
std::optional<std::string> rootControlledParent() {
  for (const std::string& candidate :
       {std::string("/run"), std::string("/var/lib"), std::filesystem::current_path().string()}) {
    bool controlled = true;
    for (std::filesystem::path path = candidate;; path = path.parent_path()) {
      struct stat status {};
      if (::stat(path.c_str(), &status) != 0 || status.st_uid != 0 ||
          (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        controlled = false;
        break;
      }
      if (path == path.parent_path()) {
        break;
      }
    }
    if (controlled) {
      return candidate;
    }
  }
  return std::nullopt;
}

TEST(TrustAnchorsTest, ProductionModeAcceptsOnlyRootControlledDirectoriesAndFiles) {
  auto parent = rootControlledParent();
  if (!parent || ::geteuid() != 0) {
    GTEST_SKIP() << "no directory here is controlled by root alone";
  }
  AnchorDirectory good(*parent);
  std::string message;
  ASSERT_EQ(loadProduction(good.anchors, &message), errSecSuccess) << message;

  ::chmod(good.anchors.c_str(), 0775);
  EXPECT_EQ(loadProduction(good.anchors, &message), errSecCSSignatureFailed);
  EXPECT_NE(message.find("writable by someone other than root"), std::string::npos) << message;
  ::chmod(good.anchors.c_str(), 0755);

  ::chmod((good.anchors + "/root.pem").c_str(), 0666);
  EXPECT_EQ(loadProduction(good.anchors), errSecCSSignatureFailed);
  ::chmod((good.anchors + "/root.pem").c_str(), 0644);

  ::chmod(good.directory.path().c_str(), 0757); // a parent open to everyone
  EXPECT_EQ(loadProduction(good.anchors), errSecCSSignatureFailed);
  ::chmod(good.directory.path().c_str(), 0755);

  // A link in place of an anchor file is not followed.
  std::filesystem::create_symlink(world().untrustedRoot.certificatePath,
                                  good.anchors + "/linked.pem");
  EXPECT_EQ(loadProduction(good.anchors), errSecCSSignatureFailed);
  std::filesystem::remove(good.anchors + "/linked.pem");

  // Under /tmp the sticky, world-writable parent is refused.
  AnchorDirectory underTmp("/tmp");
  EXPECT_EQ(loadProduction(underTmp.anchors), errSecCSSignatureFailed);
  std::shared_ptr<const TrustAnchors> anchors;
  EXPECT_TRUE(TrustAnchors::load(underTmp.anchors, TrustAnchors::Mode::testing, anchors).ok());
  EXPECT_EQ(anchors->count(), 1u);
}

TEST(TrustAnchorsTest, EmptyMissingAndRelativeDirectoriesAreRefused) {
  TemporaryDirectory empty;
  std::shared_ptr<const TrustAnchors> anchors;
  EXPECT_EQ(TrustAnchors::load(empty.path(), TrustAnchors::Mode::testing, anchors).code(),
            errSecCSSignatureFailed);
  EXPECT_EQ(TrustAnchors::load(empty.file("missing"), TrustAnchors::Mode::testing, anchors).code(),
            errSecCSSignatureFailed);
  EXPECT_EQ(TrustAnchors::load("relative/anchors", TrustAnchors::Mode::testing, anchors).code(),
            errSecCSSignatureFailed);
  EXPECT_EQ(TrustAnchors::load(empty.path() + "/../x", TrustAnchors::Mode::testing, anchors).code(),
            errSecCSSignatureFailed);
  EXPECT_EQ(anchors, nullptr);
}

TEST(TrustAnchorsTest, ValidationWithoutADirectoryUsesTheCompiledInOne) {
  std::string path = signedProgram(SECURITY_TEST_PROGRAM, "default-anchors", "com.quillby.Lumora5",
                                   world().teamLeaf);
  std::shared_ptr<StaticCode> code;
  ASSERT_TRUE(StaticCode::createWithPath(path, code).ok());
  SecStatus status = code->checkValidity(ValidationOptions(), nullptr);
  if (std::filesystem::exists(kDefaultTrustAnchorsDirectory)) {
    GTEST_SKIP() << "this machine has real anchors";
  }
  EXPECT_EQ(status.code(), errSecCSSignatureFailed);
  EXPECT_NE(status.message().find(kDefaultTrustAnchorsDirectory), std::string::npos);
}

} // namespace
} // namespace platform::security
