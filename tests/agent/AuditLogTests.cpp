#include "agent/AuditLog.h"
#include "api/RemoveFileRequest.h"
#include "platform/archive/KeyedArchiver.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"

#include <gtest/gtest.h>

namespace agent {
namespace {

TEST(AuditLog, AnArchivedTaskIsNamedByItsClassAndTheURLsItNames) {
  auto task = std::make_shared<tasks::KLVPrivilegedAccessFileSizeTask>(
      platform::URL::fileURLWithPath("/var/log/syslog"));
  platform::NSError error;
  const auto archive = platform::archive::archivedDataWithRootObject(task, true, &error);
  ASSERT_TRUE(archive) << error.description();
  EXPECT_EQ("KLVPrivilegedAccessFileSizeTask file:///var/log/syslog",
            describeArchivedTask(*archive));
}

TEST(AuditLog, WhatIsNotATaskArchiveIsSaidSoNeverThrown) {
  EXPECT_EQ("an unreadable task archive", describeArchivedTask({}));
  const std::string garbage = "bplist00 this is not one";
  EXPECT_EQ("an unreadable task archive",
            describeArchivedTask(
                std::span(reinterpret_cast<const uint8_t*>(garbage.data()), garbage.size())));
}

TEST(AuditLog, ARequestsSubjectIsWhatItActsOn) {
  EXPECT_EQ("/tmp/a b",
            auditSubject(api::RemoveFileRequest{platform::URL::fileURLWithPath("/tmp/a b")}));
}

} // namespace
} // namespace agent
