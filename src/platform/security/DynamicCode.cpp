#include "platform/security/DynamicCode.h"

#include "platform/posix/ReadWrite.h"
#include "platform/security/ProcessChecks.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::security {

namespace {

std::string executableLink(pid_t pid) {
  return "/proc/" + std::to_string(pid) + "/exe";
}

} // namespace

SecStatus DynamicCode::create(pid_t pid, int pidfd, std::shared_ptr<DynamicCode>& code) {
  if (pid <= 0) {
    return SecStatus::processGone(pid);
  }
  auto owner = pidOfPidfd(pidfd);
  if (!owner) {
    return SecStatus::processGone(pid);
  }
  if (*owner != pid) {
    return SecStatus(errSecCSNoSuchCode, "pidfd does not refer to process " + std::to_string(pid));
  }
  auto result = std::make_shared<DynamicCode>();
  result->pid_ = pid;
  result->pidfd_ = UniqueFd(::fcntl(pidfd, F_DUPFD_CLOEXEC, 0));
  if (!result->pidfd_.valid()) {
    return SecStatus(errSecCSNoSuchCode,
                     std::string("cannot keep the pidfd: ") + std::strerror(errno));
  }
  std::string link = executableLink(pid);
  if (SecStatus status = readProcessImage(pid, result->image_); !status) {
    return status;
  }
  UniqueFd executable(::open(link.c_str(), O_RDONLY | O_CLOEXEC));
  if (!executable.valid()) {
    return SecStatus::processGone(pid);
  }
  char target[PATH_MAX];
  ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  ProcessImage after;
  if (SecStatus status = readProcessImage(pid, after); !status) {
    return status;
  }
  if (result->image_.envEnd == 0 || !(after == result->image_)) {
    return SecStatus(errSecCSGuestInvalid,
                     "process " + std::to_string(pid) +
                         " refused: it is in the middle of starting a program");
  }
  // Only now is it certain that the opened file belongs to the process of the pidfd: had the
  // pid been reused, the pidfd's process would have exited before the open.
  if (!isPidfdAlive(result->pidfd_.get())) {
    return SecStatus::processGone(pid);
  }
  std::string path = length > 0 ? std::string(target, static_cast<size_t>(length)) : link;
  if (SecStatus status =
          StaticCode::createWithDescriptor(std::move(executable), path, result->staticCode_);
      !status) {
    return status;
  }
  code = std::move(result);
  return SecStatus::success();
}

SecStatus DynamicCode::create(const AuditToken& token, int pidfd,
                              std::shared_ptr<DynamicCode>& code) {
  std::shared_ptr<DynamicCode> created;
  if (SecStatus status = create(token.pid, pidfd, created); !status) {
    return status;
  }
  created->auditToken_ = token;
  code = std::move(created);
  return SecStatus::success();
}

SecStatus DynamicCode::checkAlive() const {
  return isPidfdAlive(pidfd_.get()) ? SecStatus::success() : SecStatus::processGone(pid_);
}

SecStatus DynamicCode::checkSameProgram(const ProcessImage& image) const {
  if (!(image == image_)) {
    return SecStatus(errSecCSGuestInvalid,
                     "process " + std::to_string(pid_) + " has started another program");
  }
  return checkStillRunsSameExecutable();
}

SecStatus DynamicCode::checkStillRunsSameExecutable() const {
  struct stat status {};
  if (::stat(executableLink(pid_).c_str(), &status) != 0) {
    return SecStatus::processGone(pid_);
  }
  const FileStamp& opened = staticCode_->stamp();
  if (status.st_dev != opened.device || status.st_ino != opened.inode) {
    return SecStatus(errSecCSGuestInvalid,
                     "process " + std::to_string(pid_) + " now runs another executable");
  }
  return SecStatus::success();
}

size_t DynamicCode::executableWordSize() const {
  unsigned char identification[EI_NIDENT] = {};
  if (posix::readFully(staticCode_->descriptor(), identification, sizeof identification, 0) != 0) {
    return 0;
  }
  switch (identification[EI_CLASS]) {
  case ELFCLASS32:
    return 4;
  case ELFCLASS64:
    return 8;
  default:
    return 0;
  }
}

SecStatus DynamicCode::checkHardenedRuntime(const RuntimePolicy& policy) const {
  RuntimeSubject subject;
  subject.pid = pid_;
  subject.pidfd = pidfd_.get();
  subject.connection = auditToken_;
  subject.executable = {staticCode_->stamp().device, staticCode_->stamp().inode};
  subject.wordSize = executableWordSize();
  if (subject.wordSize == 0) {
    return SecStatus(errSecCSGuestInvalid,
                     "process " + std::to_string(pid_) + " refused: its executable is not ELF");
  }
  if (SecStatus status = platform::security::checkHardenedRuntime(subject, policy); !status) {
    return status;
  }
  // What was read belongs to the program judged only if the process has not started another.
  ProcessImage image;
  if (SecStatus status = readProcessImage(pid_, image); !status) {
    return status;
  }
  if (SecStatus status = checkSameProgram(image); !status) {
    return status;
  }
  return checkAlive();
}

SecStatus DynamicCode::checkValidity(const ValidationOptions& options,
                                     const Requirement* requirement,
                                     SigningInformation* validated) const {
  if (SecStatus status = checkAlive(); !status) {
    return status;
  }
  ProcessImage image;
  if (SecStatus status = checkProcessHardening(pid_, &image); !status) {
    return status;
  }
  if (SecStatus status = checkSameProgram(image); !status) {
    return status;
  }
  // The /proc reads above were of our process only if it is still alive now.
  if (SecStatus status = checkAlive(); !status) {
    return status;
  }
  return staticCode_->checkValidity(options, requirement, validated);
}

} // namespace platform::security
