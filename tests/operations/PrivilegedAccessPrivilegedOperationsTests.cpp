#include "operations/PrivilegedAccessPrivilegedOperations.h"
#include "platform/archive/FileHandle.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"
#include "tasks/model/KLVPrivilegedAccessFileHandleTask.h"
#include "tasks/model/KLVPrivilegedAccessFileRemoverTask.h"
#include "tasks/model/KLVPrivilegedAccessProcessTerminatorTask.h"
#include "tasks/model/KLVResultObject.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using operations::PrivilegedAccessPrivilegedOperations;
using platform::URL;

namespace {

platform::Bytes archive(const platform::archive::ObjectPtr& object) {
  platform::NSError error;
  return platform::archive::archivedDataWithRootObject(object, true, &error)
      .value_or(platform::Bytes());
}

std::shared_ptr<tasks::KLVResultObject> decodeResult(const platform::Bytes& bytes,
                                                     std::span<const int> descriptors = {}) {
  platform::archive::UnarchiveOptions options;
  options.fileDescriptors = descriptors;
  platform::NSError error;
  return std::dynamic_pointer_cast<tasks::KLVResultObject>(
      platform::archive::unarchivedObjectOfClasses(
          {&tasks::KLVResultObject::classObject(), &platform::archive::NSString::classObject(),
           &platform::archive::NSFileHandle::classObject()},
          bytes, &error, options));
}

platform::NSError thrownError(const std::function<void()>& call) {
  try {
    call();
  } catch (const platform::BridgedError& error) {
    return error.toNSError();
  }
  return {};
}

} // namespace

TEST(PrivilegedAccessPrivilegedOperations, RefusesWhatIsNotATask) {
  PrivilegedAccessPrivilegedOperations operations;
  auto empty = thrownError([&] { operations.performTask({}); });
  EXPECT_EQ(empty.domain(), platform::NSCocoaErrorDomain);
  EXPECT_EQ(empty.code(), platform::NSCoderReadCorruptError);

  auto result = archive(tasks::KLVResultObject::successStatusResult());
  EXPECT_EQ(thrownError([&] { operations.performTask(result); }).code(),
            platform::NSCoderReadCorruptError);
}

TEST(PrivilegedAccessPrivilegedOperations, AZeroProcessIdentifierIsRefusedBeforeAnythingRuns) {
  PrivilegedAccessPrivilegedOperations operations;
  auto task = archive(std::make_shared<tasks::KLVPrivilegedAccessProcessTerminatorTask>(0));
  EXPECT_THROW(operations.performTask(task),
               PrivilegedAccessPrivilegedOperations::CouldNotUnarchiveTaskError);
  EXPECT_EQ(PrivilegedAccessPrivilegedOperations::CouldNotUnarchiveTaskError().toNSError().domain(),
            "PrivilegedAgent.PrivilegedAccessPrivilegedOperations.CouldNotUnarchiveTaskError");
}

TEST(PrivilegedAccessPrivilegedOperations, AFailedTaskIsAnOrdinaryArchivedResult) {
  PrivilegedAccessPrivilegedOperations operations;
  auto task = archive(std::make_shared<tasks::KLVPrivilegedAccessFileRemoverTask>(
      URL::fileURLWithPath("/tmp/no-such-item-for-the-remover-test")));
  auto reply = operations.performTask(task);
  EXPECT_TRUE(reply.fileDescriptors.empty());
  auto result = decodeResult(reply.resultData);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->type(), tasks::KLVResultObject::mixed);
  EXPECT_EQ(result->error()->code(), 3);
}

TEST(PrivilegedAccessPrivilegedOperations, FileHandlesTravelBesideTheArchive) {
  char pattern[] = "/tmp/handle-test-XXXXXX";
  const int created = ::mkstemp(pattern);
  ASSERT_GE(created, 0);
  ASSERT_EQ(::write(created, "abc", 3), 3);
  ::close(created);

  PrivilegedAccessPrivilegedOperations operations;
  auto reply =
      operations.performTask(archive(std::make_shared<tasks::KLVPrivilegedAccessFileHandleTask>(
          URL::fileURLWithPath(pattern), 1)));
  ASSERT_EQ(reply.fileDescriptors.size(), 1u);
  std::vector<int> descriptors = {reply.fileDescriptors[0].get()};
  auto result = decodeResult(reply.resultData, descriptors);
  ASSERT_NE(result, nullptr);
  auto handle = std::dynamic_pointer_cast<platform::archive::NSFileHandle>(result->value());
  ASSERT_NE(handle, nullptr);
  char text[4] = {};
  EXPECT_EQ(::pread(handle->fileDescriptor(), text, 3, 0), 3);
  EXPECT_EQ(std::string(text), "abc");
  ::unlink(pattern);
}
