#include "ChildProcess.h"
#include "SecurityFixture.h"
#include "platform/security/CodeSigner.h"
#include "platform/security/DigestCache.h"
#include "platform/security/SignatureTrailer.h"
#include "platform/security/StaticCode.h"
#include "platform/security/UniqueFd.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform::security {
namespace {

using namespace testing;

void flipByte(const std::string& path, off_t offset) {
  UniqueFd fd(::open(path.c_str(), O_RDWR));
  if (offset < 0) {
    offset += ::lseek(fd.get(), 0, SEEK_END);
  }
  char byte = 0;
  ASSERT_EQ(::pread(fd.get(), &byte, 1, offset), 1);
  byte ^= 0x01;
  ASSERT_EQ(::pwrite(fd.get(), &byte, 1, offset), 1);
}

uint64_t fileSize(const std::string& path) {
  return std::filesystem::file_size(path);
}

std::string readFile(const std::string& path) {
  std::string bytes(fileSize(path), '\0');
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  EXPECT_EQ(::read(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  return bytes;
}

void writeFile(const std::string& path, const std::string& bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC));
  ASSERT_EQ(::write(fd.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

TEST(StaticCodeTest, ClientRequirementsAgainstMatchingAndOtherBinaries) {
  const SecurityWorld& w = world();
  std::string main =
      signedProgram(SECURITY_TEST_PROGRAM, "main", "com.quillby.Lumora5", w.teamLeaf);
  std::string menu =
      signedProgram(SECURITY_TEST_PROGRAM, "menu", "com.quillby.Lumora5.Menu", w.teamLeaf);
  std::string monitor = signedProgram(SECURITY_TEST_PROGRAM, "monitor",
                                      "com.quillby.Lumora5.HealthMonitor", w.teamLeaf);
  EXPECT_EQ(validatePath(main, kMainAppRequirement).code(), errSecSuccess);
  EXPECT_EQ(validatePath(menu, kMenuRequirement).code(), errSecSuccess);
  EXPECT_EQ(validatePath(monitor, kHealthMonitorRequirement).code(), errSecSuccess);
  EXPECT_EQ(validatePath(menu, kMainAppRequirement).code(), errSecCSReqFailed);
  EXPECT_EQ(validatePath(main, kHealthMonitorRequirement).code(), errSecCSReqFailed);

  std::string old =
      signedProgram(SECURITY_TEST_PROGRAM_OLD, "old", "com.quillby.Lumora5", w.teamLeaf);
  EXPECT_EQ(validatePath(old).code(), errSecSuccess);
  EXPECT_EQ(validatePath(old, kMainAppRequirement).code(), errSecCSReqFailed);

  std::string otherTeam =
      signedProgram(SECURITY_TEST_PROGRAM, "other", "com.quillby.Lumora5", w.otherTeamLeaf);
  EXPECT_EQ(validatePath(otherTeam, kMainAppRequirement).code(), errSecCSReqFailed);

  std::string untrusted =
      signedProgram(SECURITY_TEST_PROGRAM, "untrusted", "com.quillby.Lumora5", w.untrustedLeaf);
  SecStatus status = validatePath(untrusted, kMainAppRequirement);
  EXPECT_EQ(status.code(), errSecCSSignatureFailed);
  EXPECT_NE(status.message().find("not trusted"), std::string::npos) << status.message();

  std::string expired =
      signedProgram(SECURITY_TEST_PROGRAM, "expired", "com.quillby.Lumora5", w.expiredLeaf);
  status = validatePath(expired, kMainAppRequirement);
  EXPECT_EQ(status.code(), errSecCSSignatureFailed);
  EXPECT_NE(status.message().find("expired"), std::string::npos) << status.message();
}

TEST(StaticCodeTest, ChainThroughAnIntermediateNeedsTheIntermediate) {
  const SecurityWorld& w = world();
  std::string withChain = signedProgram(SECURITY_TEST_PROGRAM, "chain", "com.quillby.Lumora5",
                                        w.intermediateLeaf, w.chainPath);
  EXPECT_EQ(validatePath(withChain, kMainAppRequirement).code(), errSecSuccess);
  EXPECT_EQ(validatePath(withChain, "certificate 1[subject.CN] = \"Quillby Test Intermediate\" "
                                    "and certificate root[subject.CN] = \"Quillby Test Root\"")
                .code(),
            errSecSuccess);
  std::string withoutChain =
      signedProgram(SECURITY_TEST_PROGRAM, "nochain", "com.quillby.Lumora5", w.intermediateLeaf);
  EXPECT_EQ(validatePath(withoutChain).code(), errSecCSSignatureFailed);
}

TEST(StaticCodeTest, ModifiedCodeOrSignatureIsInvalid) {
  const SecurityWorld& w = world();
  std::string path =
      signedProgram(SECURITY_TEST_PROGRAM, "flip", "com.quillby.Lumora5", w.teamLeaf);
  flipByte(path, 100);
  EXPECT_EQ(validatePath(path, kMainAppRequirement).code(), errSecCSSignatureFailed);

  // A byte inside the CMS blob (its signature value lies near the end of the blob).
  path = signedProgram(SECURITY_TEST_PROGRAM, "flipblob", "com.quillby.Lumora5", w.teamLeaf);
  flipByte(path, -static_cast<off_t>(kSignatureFooterSize) - 10);
  EXPECT_EQ(validatePath(path).code(), errSecCSSignatureFailed);

  // Bytes appended after the footer leave the file without a footer at its end.
  path = signedProgram(SECURITY_TEST_PROGRAM, "appended", "com.quillby.Lumora5", w.teamLeaf);
  writeFile(path, readFile(path) + "extra");
  EXPECT_EQ(validatePath(path).code(), errSecCSUnsigned);

  // Bytes inserted before the signature: the signed length no longer matches.
  path = signedProgram(SECURITY_TEST_PROGRAM, "inserted", "com.quillby.Lumora5", w.teamLeaf);
  std::string bytes = readFile(path);
  bytes.insert(1000, "x");
  writeFile(path, bytes);
  EXPECT_EQ(validatePath(path).code(), errSecCSSignatureFailed);
}

TEST(StaticCodeTest, UnsignedMissingAndMalformedFiles) {
  std::string unsignedCopy = copyProgram(SECURITY_TEST_PROGRAM, "unsigned");
  EXPECT_EQ(validatePath(unsignedCopy, kMainAppRequirement).code(), errSecCSUnsigned);
  EXPECT_EQ(validatePath(world().directory.file("nothing-here")).code(),
            errSecCSStaticCodeNotFound);
  EXPECT_EQ(validatePath(world().directory.path()).code(), errSecCSStaticCodeNotFound);
  // Devices and FIFOs are refused without being opened for reading (which would block here).
  EXPECT_EQ(validatePath("/dev/null").code(), errSecCSStaticCodeNotFound);
  std::string fifo = world().directory.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(validatePath(fifo).code(), errSecCSStaticCodeNotFound);
  EXPECT_EQ(validatePath(unsignedCopy, "identifier").code(), errSecCSReqInvalid);

  std::string code = readFile(unsignedCopy);
  auto withTrailer = [&](const std::string& name, const std::string& blob, uint32_t length) {
    std::string path = copyProgram(SECURITY_TEST_PROGRAM, name);
    writeFile(path, code + blob + encodeSignatureFooter(length));
    return path;
  };
  EXPECT_EQ(validatePath(withTrailer("garbage", "not a CMS structure", 19)).code(),
            errSecCSSignatureFailed);
  EXPECT_EQ(validatePath(withTrailer("huge", "", 0x7FFFFFFF)).code(), errSecCSSignatureFailed);
  EXPECT_EQ(validatePath(withTrailer("zero", "", 0)).code(), errSecCSSignatureFailed);
  std::string badVersion = encodeSignatureFooter(4);
  badVersion[8] = 9;
  std::string path = copyProgram(SECURITY_TEST_PROGRAM, "version");
  writeFile(path, code + "abcd" + badVersion);
  EXPECT_EQ(validatePath(path).code(), errSecCSSignatureFailed);

  // A genuine signature whose content claims a different length or another digest.
  const SecurityWorld& w = world();
  SignedContent content;
  content.identifier = "com.quillby.Lumora5";
  content.codeLength = code.size() + 1;
  content.codeDigest = sha256Of(code.data(), code.size());
  std::string blob;
  ASSERT_TRUE(
      makeSignatureBlob(content.encode(), w.teamLeaf.signingParameters("x"), blob, nullptr));
  EXPECT_EQ(validatePath(withTrailer("length", blob, uint32_t(blob.size()))).code(),
            errSecCSSignatureFailed);
  content.codeLength = code.size();
  content.codeDigest[0] ^= 1;
  ASSERT_TRUE(
      makeSignatureBlob(content.encode(), w.teamLeaf.signingParameters("x"), blob, nullptr));
  EXPECT_EQ(validatePath(withTrailer("digest", blob, uint32_t(blob.size()))).code(),
            errSecCSSignatureFailed);
  // Unparseable signed content.
  ASSERT_TRUE(
      makeSignatureBlob("identifier=x\n", w.teamLeaf.signingParameters("x"), blob, nullptr));
  EXPECT_EQ(validatePath(withTrailer("content", blob, uint32_t(blob.size()))).code(),
            errSecCSSignatureFailed);
}

TEST(StaticCodeTest, SignedProgramStillRunsAndResigningReplacesTheSignature) {
  const SecurityWorld& w = world();
  std::string path = copyProgram(SECURITY_TEST_PROGRAM, "runs");
  ::chmod(path.c_str(), 0751);
  uint64_t unsignedSize = fileSize(path);
  NSError error;
  ASSERT_TRUE(signFile(path, w.teamLeaf.signingParameters("com.quillby.Lumora5"), &error));
  EXPECT_GT(fileSize(path), unsignedSize);
  ASSERT_TRUE(signFile(path, w.teamLeaf.signingParameters("com.quillby.Lumora5.Menu"), &error));
  std::shared_ptr<StaticCode> code;
  SigningInformation information;
  ASSERT_TRUE(StaticCode::createWithPath(path, code).ok());
  ASSERT_TRUE(code->copySigningInformation(information).ok());
  EXPECT_EQ(information.codeLength, unsignedSize); // the old signature was replaced
  struct stat status {};
  ::stat(path.c_str(), &status);
  EXPECT_EQ(status.st_mode & 07777, 0751u);
  EXPECT_EQ(validatePath(path, kMenuRequirement).code(), errSecSuccess);
  EXPECT_EQ(validatePath(path, kMainAppRequirement).code(), errSecCSReqFailed);

  std::string output;
  EXPECT_EQ(runProgram({path, "hello"}, &output), 0);
  EXPECT_EQ(output, "hello from the signed program\n");
  // No temporary file is left beside it.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(world().directory.path())) {
    files += entry.path().filename().string().rfind("runs", 0) == 0;
  }
  EXPECT_EQ(files, 1u);
}

TEST(StaticCodeTest, SigningRefusesBadInput) {
  const SecurityWorld& w = world();
  std::string path = copyProgram(SECURITY_TEST_PROGRAM, "refuse");
  NSError error;
  EXPECT_FALSE(signFile(path, w.teamLeaf.signingParameters("bad identifier"), &error));
  SigningParameters mismatched = w.teamLeaf.signingParameters("com.x");
  mismatched.keyPath = w.otherTeamLeaf.keyPath;
  EXPECT_FALSE(signFile(path, mismatched, &error));
  EXPECT_NE(error.localizedDescription().find("does not belong"), std::string::npos);
  std::string link = world().directory.file("refuse-link");
  std::filesystem::create_symlink(path, link);
  EXPECT_FALSE(signFile(link, w.teamLeaf.signingParameters("com.x"), &error));
  EXPECT_EQ(validatePath(path).code(), errSecCSUnsigned);
}

TEST(StaticCodeTest, SigningInformationNamesIdentifierTeamAndInfo) {
  const SecurityWorld& w = world();
  std::string path =
      signedProgram(SECURITY_TEST_PROGRAM, "info", "com.quillby.Lumora5.Menu", w.untrustedLeaf);
  std::shared_ptr<StaticCode> code;
  ASSERT_TRUE(StaticCode::createWithPath(path, code).ok());
  SigningInformation information;
  ASSERT_TRUE(code->copySigningInformation(information).ok());
  EXPECT_EQ(information.identifier, "com.quillby.Lumora5.Menu");
  EXPECT_EQ(information.teamIdentifier, std::optional<std::string>(kTeam));
  EXPECT_EQ(information.leaf.firstSubjectValue("CN"), std::optional<std::string>("Impostor"));
  EXPECT_EQ(information.leaf.firstSubjectValue("C"), std::optional<std::string>("GB"));
  EXPECT_FALSE(information.validated);
  ASSERT_NE(information.info, nullptr);
  EXPECT_EQ(information.info->root()["CFBundleShortVersionString"].stringValue(),
            std::optional<std::string>("1.4.2"));

  // Validation fills the same facts from the verified signature, here with the trusted chain.
  path = signedProgram(SECURITY_TEST_PROGRAM, "info2", "com.quillby.Lumora5", w.teamLeaf);
  ASSERT_TRUE(StaticCode::createWithPath(path, code).ok());
  ASSERT_TRUE(code->checkValidity(testOptions(), nullptr, &information).ok());
  EXPECT_TRUE(information.validated);
  ASSERT_EQ(information.certificates.size(), 2u);
  EXPECT_EQ(information.certificates[1].firstSubjectValue("CN"),
            std::optional<std::string>("Quillby Test Root"));
  EXPECT_EQ(information.info->root()["CFBundleIdentifier"].stringValue(),
            std::optional<std::string>("com.quillby.Lumora5"));

  std::shared_ptr<StaticCode> unsignedCode;
  ASSERT_TRUE(
      StaticCode::createWithPath(copyProgram(SECURITY_TEST_PROGRAM, "plain"), unsignedCode).ok());
  EXPECT_EQ(unsignedCode->copySigningInformation(information).code(), errSecCSUnsigned);
}

TEST(StaticCodeTest, DoNotValidateExecutableSkipsOnlyTheHash) {
  const SecurityWorld& w = world();
  std::string path =
      signedProgram(SECURITY_TEST_PROGRAM, "skip", "com.quillby.Lumora5", w.teamLeaf);
  flipByte(path, 200);
  std::shared_ptr<StaticCode> code;
  ASSERT_TRUE(StaticCode::createWithPath(path, code).ok());
  ValidationOptions options = testOptions();
  options.flags = kSecCSDoNotValidateExecutable | kSecCSDoNotValidateResources;
  EXPECT_TRUE(code->checkValidity(options, nullptr).ok());
  EXPECT_EQ(code->checkValidity(testOptions(), nullptr).code(), errSecCSSignatureFailed);
}

TEST(StaticCodeTest, DigestCacheServesUnchangedFilesAndMissesRewrittenOnes) {
  const SecurityWorld& w = world();
  std::string path =
      signedProgram(SECURITY_TEST_PROGRAM, "cached", "com.quillby.Lumora5", w.teamLeaf);
  DigestCache::shared().clear();
  // A file changed within the last two seconds is never cached.
  EXPECT_TRUE(validatePath(path).ok());
  EXPECT_EQ(DigestCache::shared().count(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_TRUE(validatePath(path).ok());
  EXPECT_EQ(DigestCache::shared().count(), 1u);
  EXPECT_TRUE(validatePath(path).ok());
  // Rewritten in place with the same size: ctime moves, so the cache is not used.
  flipByte(path, 300);
  EXPECT_EQ(validatePath(path).code(), errSecCSSignatureFailed);
}

TEST(DigestCacheTest, KeyCoversInodeSizeAndTimes) {
  DigestCache cache;
  struct stat status {};
  status.st_dev = 1;
  status.st_ino = 2;
  status.st_size = 3;
  status.st_mtim = {100, 5};
  status.st_ctim = {100, 6};
  FileStamp stamp = FileStamp::of(status);
  Sha256Digest digest{};
  digest[0] = 42;
  cache.store(stamp, 3, digest, {101, 0}); // changed one second ago: not stored
  EXPECT_EQ(cache.count(), 0u);
  cache.store(stamp, 3, digest, {200, 0});
  EXPECT_EQ(cache.lookup(stamp, 3), std::optional<Sha256Digest>(digest));
  EXPECT_FALSE(cache.lookup(stamp, 2));
  for (auto change :
       {+[](struct stat& s) { s.st_ino++; }, +[](struct stat& s) { s.st_dev++; },
        +[](struct stat& s) { s.st_size++; }, +[](struct stat& s) { s.st_mtim.tv_nsec++; },
        +[](struct stat& s) { s.st_ctim.tv_nsec++; },
        +[](struct stat& s) { s.st_ctim.tv_sec++; }}) {
    struct stat changed = status;
    change(changed);
    EXPECT_FALSE(cache.lookup(FileStamp::of(changed), 3));
  }
}

} // namespace
} // namespace platform::security
