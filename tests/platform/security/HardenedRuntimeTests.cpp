// The hardened-runtime and library-validation checks on real processes: set-group-ID test
// programs run by root (and, through setpriv, by nobody or by a member of the group), and
// programs that run code from files that are not root's.
#include "ChildProcess.h"
#include "SecurityFixture.h"
#include "platform/security/DynamicCode.h"
#include "platform/security/HardenedRuntime.h"
#include "platform/security/LibraryValidation.h"
#include "platform/security/RootControlledPath.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::security {
namespace {

using namespace testing;

// Any group id serves: the kernel grants a set-group-ID file's group whether or not it has a name.
constexpr gid_t kClientsGroup = 54321;
constexpr const char* kSetpriv = "/usr/bin/setpriv";

bool isRoot() {
  return ::geteuid() == 0;
}

// A signed copy of the test program, installed set-group-ID to the clients' group when `setgid`.
std::string clientProgram(const std::string& name, bool setgid) {
  std::string path =
      signedProgram(SECURITY_TEST_PROGRAM, name, "com.quillby.Lumora5", world().teamLeaf);
  if (setgid) {
    EXPECT_EQ(::chown(path.c_str(), 0, kClientsGroup), 0);
    EXPECT_EQ(::chmod(path.c_str(), 02755), 0);
  }
  return path;
}

// Judges `child` as the agent judges a peer that connected with group `connectGroup`.
SecStatus judge(const ChildProcess& child, gid_t connectGroup) {
  std::shared_ptr<DynamicCode> code;
  if (SecStatus status =
          DynamicCode::create(AuditToken{child.pid(), 0, connectGroup}, child.pidfd(), code);
      !status) {
    return status;
  }
  return code->checkHardenedRuntime(RuntimePolicy{kClientsGroup});
}

void expectRefusal(const SecStatus& status, const std::string& cause) {
  EXPECT_EQ(status.code(), errSecCSGuestInvalid) << status.description();
  EXPECT_NE(status.message().find(cause), std::string::npos) << status.message();
}

// The library validation of `child`, whose signed executable is `program`.
SecStatus validateLibraries(const ChildProcess& child, const std::string& program) {
  UniqueFd directory(
      ::open(("/proc/" + std::to_string(child.pid())).c_str(), O_RDONLY | O_DIRECTORY));
  std::string text;
  EXPECT_EQ(readProcessFile(directory.get(), "maps", 1 << 24, text), ReadOutcome::ok);
  std::vector<MemoryMapping> mappings;
  std::string reason;
  EXPECT_TRUE(MemoryMaps::parse(text, mappings, reason)) << reason;
  struct stat status {};
  EXPECT_EQ(::stat(program.c_str(), &status), 0);
  return validateExecutableMappings(child.pid(), directory.get(), mappings,
                                    {static_cast<uint64_t>(status.st_dev), status.st_ino});
}

class HardenedRuntimeTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!isRoot()) {
      GTEST_SKIP() << "installing set-group-ID programs needs root";
    }
  }
};

TEST_F(HardenedRuntimeTest, SetGroupIdClientIsAdmittedForRootAndNobody) {
  const std::string program = clientProgram("runtime-client", true);
  ChildProcess asRoot({program});
  asRoot.waitUntilReady();
  SecStatus status = judge(asRoot, kClientsGroup);
  EXPECT_TRUE(status.ok()) << status.description();

  ::chmod(world().directory.path().c_str(), 0755); // nobody must reach the program
  ChildProcess asNobody(
      {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--", program});
  asNobody.waitUntilReady();
  status = judge(asNobody, kClientsGroup);
  EXPECT_TRUE(status.ok()) << status.description();
}

TEST_F(HardenedRuntimeTest, ClientsWithoutTheGroupFromTheKernelAreRefused) {
  ChildProcess plain({clientProgram("runtime-plain", false)});
  plain.waitUntilReady();
  // Even if it had connected with the group: its process does not have it.
  expectRefusal(judge(plain, kClientsGroup), "its effective group is 0");

  ChildProcess genuine({clientProgram("runtime-late", true)});
  genuine.waitUntilReady();
  // A connection opened before the set-group-ID program started (and so maybe shared).
  expectRefusal(judge(genuine, 0), "its connection was opened with group 0");

  ChildProcess member({kSetpriv, "--groups=" + std::to_string(kClientsGroup), "--",
                       clientProgram("runtime-member", true)});
  member.waitUntilReady();
  expectRefusal(judge(member, kClientsGroup), "belongs to the clients' group");

  std::shared_ptr<DynamicCode> code;
  ASSERT_TRUE(DynamicCode::create(genuine.pid(), genuine.pidfd(), code).ok());
  expectRefusal(code->checkHardenedRuntime(RuntimePolicy{kClientsGroup}),
                "did not reach the agent through a connection");
}

TEST_F(HardenedRuntimeTest, ProcessThatIsGoneIsNoSuchCode) {
  ChildProcess child({clientProgram("runtime-gone", true)});
  child.waitUntilReady();
  std::shared_ptr<DynamicCode> code;
  ASSERT_TRUE(
      DynamicCode::create(AuditToken{child.pid(), 0, kClientsGroup}, child.pidfd(), code).ok());
  child.send("exit");
  child.wait();
  EXPECT_EQ(code->checkHardenedRuntime(RuntimePolicy{kClientsGroup}).code(), errSecCSNoSuchCode);
}

// A folder for libraries that only root controls: the build tree, when root owns it.
class LibraryValidationTest : public HardenedRuntimeTest {
protected:
  void SetUp() override {
    HardenedRuntimeTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    folder_ = std::make_unique<TemporaryDirectory>(SECURITY_TEST_BINARY_DIR);
    ::chmod(folder_->path().c_str(), 0755);
    UniqueFd opened;
    std::string reason;
    if (!openDirectoryWithoutLinks(folder_->path(), true, opened, reason)) {
      GTEST_SKIP() << "the build tree is not root's: " << reason;
    }
  }

  // A copy of the test library in `folder` with `mode`, owned by `owner`.
  static std::string library(const std::string& folder, const std::string& name, mode_t mode,
                             uid_t owner = 0) {
    const std::string path = folder + "/" + name;
    std::filesystem::copy_file(SECURITY_TEST_PRELOAD, path,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    EXPECT_EQ(::chown(path.c_str(), owner, 0), 0);
    return path;
  }

  std::unique_ptr<TemporaryDirectory> folder_;
};

TEST_F(LibraryValidationTest, AdmitsRootsLibrariesAndRefusesEveryOtherSourceOfCode) {
  const std::string program = clientProgram("validated", false);
  const std::string& folder = folder_->path();
  ChildProcess rootsLibrary({program}, {"LD_PRELOAD=" + library(folder, "root.so", 0755)});
  rootsLibrary.waitUntilReady();
  SecStatus status = validateLibraries(rootsLibrary, program);
  EXPECT_TRUE(status.ok()) << status.description();

  struct Case {
    std::string library;
    const char* cause;
  };
  const Case cases[] = {
      {library(folder, "writable.so", 0666), "which someone other than root owns or may write"},
      {library(folder, "group-writable.so", 0775),
       "which someone other than root owns or may write"},
      {library(folder, "nobodys.so", 0755, 65534),
       "which someone other than root owns or may write"},
      {library(world().directory.path(), "in-tmp.so", 0755), "a folder that is not root's"},
  };
  for (const Case& refused : cases) {
    ChildProcess child({program}, {"LD_PRELOAD=" + refused.library});
    child.waitUntilReady();
    expectRefusal(validateLibraries(child, program), refused.cause);
  }

  const std::string doomed = library(folder, "deleted.so", 0755);
  ChildProcess deleted({program}, {"LD_PRELOAD=" + doomed});
  deleted.waitUntilReady();
  ASSERT_EQ(::unlink(doomed.c_str()), 0);
  expectRefusal(validateLibraries(deleted, program), "a deleted file");

  // Still linked elsewhere, but its own name now names another file.
  const std::string replaced = library(folder, "replaced.so", 0755);
  ChildProcess renamed({program}, {"LD_PRELOAD=" + replaced});
  renamed.waitUntilReady();
  ASSERT_EQ(::link(replaced.c_str(), (folder + "/kept.so").c_str()), 0);
  ASSERT_EQ(::rename(library(folder, "other.so", 0755).c_str(), replaced.c_str()), 0);
  expectRefusal(validateLibraries(renamed, program), "whose name now leads elsewhere");
}

TEST_F(LibraryValidationTest, RefusesExecutableMemoryThatNoFileOfRootsBacks) {
  const std::string program = clientProgram("jit", false);
  for (const auto& [command, cause] :
       {std::pair<std::string, std::string>{"map-anonymous", "is backed by no file"},
        {"map-memfd", "runs code from a memory file"}}) {
    ChildProcess child({program});
    child.waitUntilReady();
    child.send(command);
    ASSERT_EQ(child.readLine(), "mapped");
    expectRefusal(validateLibraries(child, program), cause);
  }
}

} // namespace
} // namespace platform::security
