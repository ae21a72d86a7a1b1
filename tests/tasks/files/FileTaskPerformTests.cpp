#include "ArchiveTestSupport.h"
#include "TaskTestSupport.h"
#include "platform/archive/Collections.h"
#include "platform/archive/FileHandle.h"
#include "platform/archive/Values.h"
#include "tasks/files/KLVFileRemoverService.h"
#include "tasks/files/KLVFileSizeAccessService.h"
#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/KLVPrivilegedURL.h"
#include "tasks/model/PrivilegedAccessErrors.h"
#include "utilities/FileFlags.h"
#include "utilities/UniqueFd.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace tasks;
using platform::URL;
namespace fs = std::filesystem;

namespace {

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool numberValue(const ResultPtr& result) {
  auto number = std::dynamic_pointer_cast<platform::archive::NSNumber>(result->value());
  return number != nullptr && number->boolValue();
}

class FileTasks : public ::testing::Test {
protected:
  std::string path(const std::string& relative) const { return root.path() + "/" + relative; }
  URL url(const std::string& relative) const { return URL::fileURLWithPath(path(relative)); }
  archive_test::TemporaryDirectory root;
};

} // namespace

TEST_F(FileTasks, RemovingAMissingItemFailsWithCodeThree) {
  auto result = KLVPrivilegedAccessFileRemoverTask(url("missing")).perform();
  EXPECT_EQ(result->type(), KLVResultObject::mixed);
  EXPECT_FALSE(result->isSuccess());
  EXPECT_EQ(result->error()->domain(), "kKLVFileRemoverErrorDomain");
  EXPECT_EQ(result->error()->code(), 3);
}

TEST_F(FileTasks, RemovingTheOnlyFileRemovesItsFolderButNotTheGrandparent) {
  fs::create_directories(path("grand/parent"));
  writeText(path("grand/parent/file"), "x");
  auto result = KLVPrivilegedAccessFileRemoverTask(url("grand/parent/file")).perform();
  EXPECT_TRUE(result->isSuccess());
  EXPECT_EQ(result->type(), KLVResultObject::success);
  EXPECT_FALSE(fs::exists(path("grand/parent")));
  EXPECT_TRUE(fs::exists(path("grand")));
}

TEST_F(FileTasks, AFolderWithADSStoreLeftStays) {
  fs::create_directories(path("parent"));
  writeText(path("parent/file"), "x");
  writeText(path("parent/.DS_Store"), "");
  EXPECT_TRUE(KLVPrivilegedAccessFileRemoverTask(url("parent/file")).perform()->isSuccess());
  EXPECT_TRUE(fs::exists(path("parent/.DS_Store")));
}

TEST_F(FileTasks, AnImmutableFileIsUnlockedAndRemoved) {
  fs::create_directories(path("locked"));
  writeText(path("locked/file"), "x");
  writeText(path("locked/sibling"), "y");
  {
    utilities::UniqueFd fd(utilities::openForFlags(AT_FDCWD, path("locked/file").c_str(), false));
    auto flags = fd ? utilities::fileFlags(fd.get()) : std::nullopt;
    if (!flags || !utilities::setFileFlags(fd.get(), *flags | utilities::UF_IMMUTABLE)) {
      GTEST_SKIP() << "this file system keeps no immutable flag";
    }
  }
  EXPECT_TRUE(KLVFileImmutabilityService().isLockedFileAt(path("locked/file"), nullptr));
  auto result = KLVPrivilegedAccessFileRemoverTask(url("locked/file")).perform();
  EXPECT_TRUE(result->isSuccess());
  EXPECT_FALSE(fs::exists(path("locked/file")));
  EXPECT_TRUE(fs::exists(path("locked/sibling")));
}

TEST_F(FileTasks, SizesOfFilesAndTheRefusalOfFolders) {
  writeText(path("five"), "12345");
  auto size = KLVPrivilegedAccessFileSizeTask(url("five")).perform();
  EXPECT_EQ(size->type(), KLVResultObject::success);
  EXPECT_EQ(std::dynamic_pointer_cast<platform::archive::NSNumber>(size->value())->int64Value(), 5);
  writeText(path("empty"), "");
  EXPECT_EQ(KLVPrivilegedAccessFileSizeTask(url("empty")).perform()->type(),
            KLVResultObject::success);

  auto folder = KLVPrivilegedAccessFileSizeTask(URL::fileURLWithPath(root.path())).perform();
  EXPECT_EQ(folder->type(), KLVResultObject::failure);
  EXPECT_EQ(folder->error()->domain(), "FileSizeAccessErrorDomain");
  EXPECT_EQ(folder->error()->code(), 201);
  EXPECT_EQ(folder->error()->stringForKey(platform::NSDebugDescriptionErrorKey),
            "Invalid file type (NSFileTypeDirectory) for size reading");
}

TEST_F(FileTasks, EmptinessIgnoresOnlyTheDSStore) {
  fs::create_directories(path("store"));
  writeText(path("store/.DS_Store"), "");
  auto onlyStore = KLVPrivilegedAccessEmptyDirectoryFetcherTask(url("store")).perform();
  EXPECT_EQ(onlyStore->type(), KLVResultObject::success);
  EXPECT_FALSE(numberValue(onlyStore));

  fs::create_directories(path("hidden"));
  writeText(path("hidden/.profile"), "");
  EXPECT_TRUE(numberValue(KLVPrivilegedAccessEmptyDirectoryFetcherTask(url("hidden")).perform()));

  auto missing = KLVPrivilegedAccessEmptyDirectoryFetcherTask(url("missing")).perform();
  EXPECT_EQ(missing->type(), KLVResultObject::mixed);
  EXPECT_TRUE(numberValue(missing));
  EXPECT_EQ(missing->error()->domain(), "kKLVFastDirectoryEnumeratorErrorDomain ");
  EXPECT_EQ(missing->error()->code(), 10002);
}

namespace {
std::set<std::string> enumerate(const std::string& rootPath, bool collectDirectories,
                                uint64_t depth, const std::string& prefix) {
  auto result =
      KLVPrivilegedAccessEnumeratorTask(URL::fileURLWithPath(rootPath), collectDirectories, depth)
          .perform();
  std::set<std::string> paths;
  auto array = std::dynamic_pointer_cast<platform::archive::NSArray>(result->value());
  const auto entries = array->objectsOfClass<KLVPrivilegedURL>();
  for (const auto& entry : entries.value()) {
    paths.insert(entry->originPath().substr(prefix.size()));
  }
  return paths;
}
} // namespace

TEST_F(FileTasks, EnumerationStopsBelowDepthPlusOneAndSkipsLinksAndStores) {
  fs::create_directories(path("tree/sub/deep/deeper"));
  writeText(path("tree/a"), "");
  writeText(path("tree/.DS_Store"), "");
  writeText(path("tree/sub/b"), "");
  writeText(path("tree/sub/deep/c"), "");
  fs::create_symlink(path("tree/a"), path("tree/link"));
  const std::string prefix = path("tree/");

  EXPECT_EQ(enumerate(path("tree"), false, 1, prefix), (std::set<std::string>{"a", "sub/b"}));
  EXPECT_EQ(enumerate(path("tree"), true, 1, prefix),
            (std::set<std::string>{"a", "sub", "sub/b", "sub/deep"}));
  EXPECT_EQ(enumerate(path("tree"), false, 5, prefix),
            (std::set<std::string>{"a", "sub/b", "sub/deep/c"}));
  EXPECT_EQ(enumerate(path("tree/a"), true, 1, path("tree/")), (std::set<std::string>{"a"}));
}

TEST_F(FileTasks, EnumeratedRecordsCarryTheirFlags) {
  fs::create_directories(path("bin"));
  std::ofstream(path("bin/tool"), std::ios::binary).write("\xcf\xfa\xed\xfe rest", 9);
  fs::permissions(path("bin/tool"), fs::perms::owner_all);
  auto result =
      KLVPrivilegedAccessEnumeratorTask(URL::fileURLWithPath(path("bin")), false, 1).perform();
  auto entries = std::dynamic_pointer_cast<platform::archive::NSArray>(result->value())
                     ->objectsOfClass<KLVPrivilegedURL>();
  ASSERT_EQ(entries->size(), 1u);
  const auto& tool = *entries->front();
  EXPECT_TRUE(tool.isMachOBinary());
  EXPECT_TRUE(tool.isExecutable());
  EXPECT_FALSE(tool.isDirectory());
  EXPECT_EQ(tool.canonicalStandartizedPath(), fs::canonical(path("bin/tool")).string());
}

TEST_F(FileTasks, FileHandlesOpenOnlyRegularFilesInTheirMode) {
  writeText(path("data"), "keep me");
  auto writing = KLVPrivilegedAccessFileHandleTask(url("data"), 2).perform();
  ASSERT_EQ(writing->type(), KLVResultObject::success);
  auto handle = std::dynamic_pointer_cast<platform::archive::NSFileHandle>(writing->value());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(::lseek(handle->fileDescriptor(), 0, SEEK_CUR), 0);
  EXPECT_EQ(fs::file_size(path("data")), 7u);
  EXPECT_EQ(::fcntl(handle->fileDescriptor(), F_GETFL) & O_ACCMODE, O_WRONLY);

  auto unsupported = KLVPrivilegedAccessFileHandleTask(url("data"), 4).perform();
  EXPECT_EQ(unsupported->type(), KLVResultObject::failure);
  EXPECT_EQ(unsupported->error()->code(), 100502);
  EXPECT_EQ(std::get<URL>(unsupported->error()->userInfo().at(platform::NSURLErrorKey)),
            url("data"));
  EXPECT_EQ(KLVPrivilegedAccessFileHandleTask(url("data"), 0).perform()->error()->code(), 100502);

  // A folder's descriptor would open everything below it with root's rights.
  auto folder = KLVPrivilegedAccessFileHandleTask(URL::fileURLWithPath(root.path()), 1).perform();
  EXPECT_EQ(folder->type(), KLVResultObject::failure);
  EXPECT_EQ(folder->value(), nullptr);

  auto missing = KLVPrivilegedAccessFileHandleTask(url("absent"), 2).perform();
  EXPECT_EQ(missing->type(), KLVResultObject::failure);
  EXPECT_FALSE(fs::exists(path("absent")));
}

TEST(FileTaskURLs, OnlyAbsoluteFileURLsReachTheFileSystem) {
  auto remote = *URL::fromString("https://example.com/tmp/no-such-item-for-the-url-test");
  auto removal = KLVPrivilegedAccessFileRemoverTask(remote).perform();
  EXPECT_EQ(removal->error()->code(), 3);
  // The refusal names the URL as given and survives the trip back to the client.
  tasks::registerTaskClasses();
  const platform::archive::ClassSet allowed = {&KLVResultObject::classObject(),
                                               &platform::archive::NSString::classObject(),
                                               &platform::archive::NSNumber::classObject()};
  auto roundTrip = [&](const ResultPtr& result) {
    return std::dynamic_pointer_cast<KLVResultObject>(platform::archive::unarchivedObjectOfClasses(
        allowed, tasks_test::archive(result), nullptr));
  };
  auto decoded = roundTrip(removal);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->error()->code(), 3);
  EXPECT_TRUE(
      roundTrip(KLVPrivilegedAccessFileRemoverTask(*URL::fromString("rm/relative")).perform()));
  EXPECT_EQ(KLVPrivilegedAccessFileSizeTask(remote).perform()->type(), KLVResultObject::failure);
  // Nothing to walk is a failure of the enumerator, not an empty listing.
  auto listing = KLVPrivilegedAccessEnumeratorTask(remote, true, 1).perform();
  EXPECT_EQ(listing->type(), KLVResultObject::failure);
  EXPECT_EQ(listing->error()->domain(), "kKLVFileTreeEnumeratorErrorDomain");
}
