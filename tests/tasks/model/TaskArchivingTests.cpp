#include "ArchiveTestSupport.h"
#include "TaskTestSupport.h"
#include "platform/archive/Collections.h"
#include "platform/archive/ErrorObject.h"
#include "platform/archive/Values.h"
#include "tasks/model/KLVPrivilegedAccessCodeSignatureTasks.h"
#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"
#include "tasks/model/KLVPrivilegedAccessEmptyDirectoryFetcherTask.h"
#include "tasks/model/KLVPrivilegedAccessEnumeratorTask.h"
#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/KLVPrivilegedAccessLaunchAgentRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/model/KLVPrivilegedAccessProfileTasks.h"
#include "tasks/model/KLVPrivilegedAccessSafariHomepageResetTask.h"
#include "tasks/model/KLVPrivilegedURL.h"
#include "tasks/model/PrivilegedAccessErrors.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace tasks;
using platform::URL;
using tasks_test::archive;
using tasks_test::everyTaskKind;
using tasks_test::unarchiveTask;

namespace {

URL fileURL(const char* path) {
  return URL::fileURLWithPath(path);
}

} // namespace

TEST(TaskArchiving, EveryTaskKindSurvivesTheRoundTripAndEqualsItsCopy) {
  for (const auto& task : everyTaskKind()) {
    platform::NSError error;
    auto copy = unarchiveTask(archive(task), &error);
    ASSERT_NE(copy, nullptr) << task->objectClass().name() << ": " << error.description();
    EXPECT_EQ(&copy->objectClass(), &task->objectClass());
    EXPECT_TRUE(copy->isEqual(*task)) << task->objectClass().name();
    EXPECT_EQ(copy->hash(), task->hash()) << task->objectClass().name();
    EXPECT_EQ(copy->identifier(), task->identifier());
  }
}

TEST(TaskArchiving, IdentifiersAreTheirConstantsNames) {
  EXPECT_EQ(KLVPrivilegedAccessLaunchAgentRemoverTask(fileURL("/x"), 1).identifier(),
            "kKLVPrivilegedLaunchAgentRemoverTaskIdentifier");
  EXPECT_EQ(KLVPrivilegedAccessCronjobFetcherTask(1).identifier(),
            "kKLVPrivilegedCronjobFetcherTaskIdentifier");
  EXPECT_EQ(KLVPrivilegedAccessFileRemoverTask(fileURL("/x")).identifier(),
            "kKLVPrivilegedAccessFileRemoverTaskIdentifier");
}

TEST(TaskArchiving, EqualFieldsWithDifferentUUIDsAreDifferentTasks) {
  KLVPrivilegedAccessFileRemoverTask first(fileURL("/tmp/a"));
  KLVPrivilegedAccessFileRemoverTask second(fileURL("/tmp/a"));
  EXPECT_FALSE(first.isEqual(second));
  KLVPrivilegedAccessFileSizeTask sameUUIDOtherKind(first.uuid(), fileURL("/tmp/a"));
  EXPECT_FALSE(first.isEqual(sameUUIDOtherKind));
}

TEST(TaskArchiving, InvalidFieldsDoNotDecode) {
  // A zero timeout, depth or process identifier is not a task; a negative timeout is.
  EXPECT_EQ(unarchiveTask(archive(std::make_shared<KLVPrivilegedAccessProcessTerminatorTask>(0))),
            nullptr);
  EXPECT_EQ(unarchiveTask(archive(std::make_shared<KLVPrivilegedAccessProfileFetcherTask>(0.0))),
            nullptr);
  EXPECT_EQ(unarchiveTask(archive(
                std::make_shared<KLVPrivilegedAccessSafariHomepageResetTask>("carol", 0.0))),
            nullptr);
  EXPECT_EQ(unarchiveTask(archive(
                std::make_shared<KLVPrivilegedAccessEnumeratorTask>(fileURL("/tmp"), false, 0))),
            nullptr);
  EXPECT_NE(unarchiveTask(archive(std::make_shared<KLVPrivilegedAccessCronjobFetcherTask>(-1.0))),
            nullptr);
  EXPECT_NE(unarchiveTask(archive(std::make_shared<KLVPrivilegedAccessCronjobFetcherTask>(1e-9))),
            nullptr);
}

TEST(TaskArchiving, AbstractBaseThrowsAndIsNeverDecoded) {
  KLVPrivilegedAccessTask base;
  EXPECT_THROW(base.perform(), std::logic_error);
  try {
    (void)base.identifier();
  } catch (const std::logic_error& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Abstract method: 'identifier' called on: ", 0), 0u);
  }
}

TEST(TaskArchiving, PlistlibTaskArchivesDecode) {
  archive_test::TemporaryDirectory directory;
  ASSERT_EQ(archive_test::runScript("task_archives.py", {"write", directory.path()}).status, 0);
  auto read = [&](const char* name) {
    return archive_test::readFile(directory.path() + "/" + name + ".archive");
  };
  auto remover =
      std::dynamic_pointer_cast<KLVPrivilegedAccessFileRemoverTask>(unarchiveTask(read("remover")));
  ASSERT_NE(remover, nullptr);
  EXPECT_EQ(remover->url().path(), "/tmp/target file");
  EXPECT_EQ(remover->uuid().uuidString(), "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");

  auto terminator = std::dynamic_pointer_cast<KLVPrivilegedAccessProcessTerminatorTask>(
      unarchiveTask(read("terminator")));
  ASSERT_NE(terminator, nullptr);
  EXPECT_EQ(terminator->processIdentifier(), 4242);

  auto enumerator = std::dynamic_pointer_cast<KLVPrivilegedAccessEnumeratorTask>(
      unarchiveTask(read("enumerator")));
  ASSERT_NE(enumerator, nullptr);
  EXPECT_TRUE(enumerator->shouldCollectDirectory());
  EXPECT_EQ(enumerator->maxEnumerationDepth(), 3u);

  EXPECT_EQ(unarchiveTask(read("remover_without_url")), nullptr);
  EXPECT_EQ(unarchiveTask(read("terminator_zero")), nullptr);
  platform::NSError error;
  EXPECT_EQ(unarchiveTask(read("base_task"), &error), nullptr);
  EXPECT_EQ(error.code(), platform::NSCoderReadCorruptError);
  // A result is not a task.
  error = platform::NSError();
  EXPECT_EQ(unarchiveTask(read("result_mixed"), &error), nullptr);
  EXPECT_EQ(error.code(), platform::NSCoderReadCorruptError);
}

TEST(TaskArchiving, PlistlibReadsOurTaskArchive) {
  archive_test::TemporaryDirectory directory;
  KLVPrivilegedAccessProcessTerminatorTask task(
      *platform::UUID::fromString("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"), 31337);
  const std::string path = directory.path() + "/ours.archive";
  archive_test::writeFile(path, archive(std::make_shared<KLVPrivilegedAccessProcessTerminatorTask>(
                                    task.uuid(), task.processIdentifier())));
  auto printed = archive_test::runScript("task_archives.py", {"read", path});
  ASSERT_EQ(printed.status, 0);
  EXPECT_EQ(printed.output, "class=KLVPrivilegedAccessProcessTerminatorTask\n"
                            "processIdentifier=31337\n"
                            "uuid=uuid:0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\n");
}
