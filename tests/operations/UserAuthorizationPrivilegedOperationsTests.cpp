#include "StubTools.h"
#include "operations/UserAuthorizationPrivilegedOperations.h"
#include "platform/foundation/PropertyList.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace operations {
namespace {

using Operations = UserAuthorizationPrivilegedOperations;
using UIDs = std::vector<uint32_t>;

// A tmpfs keeps the many flushes of the concurrency test fast.
std::string fastTemporaryBase() {
  return test::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
}

class UserAuthorizationPrivilegedOperationsTest : public ::testing::Test {
protected:
  UserAuthorizationPrivilegedOperationsTest() { operations.setRootForTest(root.path()); }

  // This test executable embeds the agent's Info property list, so the folder is named by the
  // agent's bundle identifier.
  std::string folder() const {
    return root / "Library/Application Support/com.quillby.Lumora5.Agent";
  }
  std::string listPath() const { return folder() + "/allowed.plist"; }
  std::optional<UIDs> storedList() const {
    return Operations::decodeAllowedList(test::readFile(listPath()));
  }
  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  test::TemporaryRoot root{fastTemporaryBase()};
  Operations operations;
};

TEST_F(UserAuthorizationPrivilegedOperationsTest, FirstAdditionCreatesTheFolderAndABinaryList) {
  EXPECT_TRUE(operations.addUserToAllowedList(501));
  const std::string bytes = test::readFile(listPath());
  EXPECT_EQ(bytes.substr(0, 8), "bplist00");
  EXPECT_EQ(storedList(), UIDs{501});
  struct stat status {};
  ASSERT_EQ(::stat(listPath().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  // The temporary file is gone.
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"allowed.plist"});
}

TEST_F(UserAuthorizationPrivilegedOperationsTest, KeepsTheOrderOfAdditionWithoutDuplicates) {
  for (uint32_t uid : {502u, 0u, 4294967295u, 501u}) {
    EXPECT_TRUE(operations.addUserToAllowedList(uid));
  }
  struct stat before {};
  ASSERT_EQ(::stat(listPath().c_str(), &before), 0);
  EXPECT_TRUE(operations.addUserToAllowedList(0));
  EXPECT_TRUE(operations.addUserToAllowedList(502));
  EXPECT_EQ(storedList(), (UIDs{502, 0, 4294967295u, 501}));
  // A known identifier leaves the file as it was (every write puts a new file in place).
  struct stat after {};
  ASSERT_EQ(::stat(listPath().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(UserAuthorizationPrivilegedOperationsTest, ADamagedListIsReplacedByTheNewIdentifier) {
  platform::PropertyList strings = platform::PropertyList::array();
  strings.appendString("501");
  platform::PropertyList dictionary = platform::PropertyList::dictionary();
  dictionary.setUnsigned("uid", 501);
  for (const std::string& damaged :
       {std::string("not a property list"), std::string("bplist00\x01\x02", 10), strings.toBinary(),
        dictionary.toBinary(), std::string()}) {
    test::writeFile(listPath(), damaged);
    EXPECT_TRUE(operations.addUserToAllowedList(503));
    EXPECT_EQ(storedList(), UIDs{503});
  }
}

TEST_F(UserAuthorizationPrivilegedOperationsTest, DecodingDropsValuesOutsideThirtyTwoBits) {
  auto listOf = [](std::initializer_list<uint64_t> values) {
    platform::PropertyList list = platform::PropertyList::array();
    for (uint64_t value : values) {
      list.appendUnsigned(value);
    }
    return list.toBinary();
  };
  EXPECT_EQ(Operations::decodeAllowedList(listOf({7, 4294967295u})), (UIDs{7, 4294967295u}));
  size_t dropped = 0;
  EXPECT_EQ(Operations::decodeAllowedList(listOf({7, 4294967296u, 8}), &dropped), (UIDs{7, 8}));
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(Operations::decodeAllowedList(listOf({})), UIDs{});
  const std::string xmlWithNegative =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
      "<integer>1</integer><integer>-1</integer></array></plist>";
  EXPECT_EQ(Operations::decodeAllowedList(xmlWithNegative), UIDs{1});
  EXPECT_EQ(Operations::decodeAllowedList("<plist><dict/></plist>"), std::nullopt);
}

TEST_F(UserAuthorizationPrivilegedOperationsTest, ALinkInPlaceOfTheListIsNeitherReadNorFollowed) {
  const std::string elsewhere = root / "elsewhere.plist";
  test::writeFile(elsewhere, Operations::encodeAllowedList({1, 2}));
  std::filesystem::create_directories(folder());
  std::filesystem::create_symlink(elsewhere, listPath());
  EXPECT_TRUE(operations.addUserToAllowedList(501));
  EXPECT_FALSE(std::filesystem::is_symlink(listPath()));
  EXPECT_EQ(storedList(), UIDs{501});
  EXPECT_EQ(Operations::decodeAllowedList(test::readFile(elsewhere)), (UIDs{1, 2}));
}

TEST_F(UserAuthorizationPrivilegedOperationsTest, AFolderThatCannotBeMadeAnswersFalse) {
  test::writeFile(root / "Library/Application Support", "a file, not a folder");
  EXPECT_FALSE(operations.addUserToAllowedList(501));
}

TEST_F(UserAuthorizationPrivilegedOperationsTest, ConcurrentAdditionsLoseNothing) {
  constexpr uint32_t kThreads = 16;
  constexpr uint32_t kPerThread = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (uint32_t thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      for (uint32_t index = 0; index < kPerThread; ++index) {
        const uint32_t uid = 1000 + thread * kPerThread + index;
        if (!operations.addUserToAllowedList(uid)) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures.load(), 0);
  const auto stored = storedList();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), kThreads * kPerThread);
  std::set<uint32_t> distinct(stored->begin(), stored->end());
  EXPECT_EQ(distinct.size(), stored->size());
  EXPECT_EQ(*distinct.begin(), 1000u);
  EXPECT_EQ(*distinct.rbegin(), 1000u + kThreads * kPerThread - 1);
  // Each thread's identifiers keep the order in which it added them.
  std::vector<uint32_t> lastOfThread(kThreads, 0);
  for (uint32_t uid : *stored) {
    const uint32_t thread = (uid - 1000) / kPerThread;
    EXPECT_LT(lastOfThread[thread], uid);
    lastOfThread[thread] = uid;
  }
  EXPECT_EQ(folderEntries().size(), 1u);
}

} // namespace
} // namespace operations
