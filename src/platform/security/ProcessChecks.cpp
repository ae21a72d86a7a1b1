#include "platform/security/ProcessChecks.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "platform/security/ProcessStatus.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace platform::security {

namespace {

constexpr size_t kMaxStatusSize = 64 * 1024;
// /proc/<pid>/stat is one line: 52 numbers and the command name (16 bytes).
constexpr size_t kMaxStatRecordSize = 4 * 1024;
constexpr size_t kMaxEnvironmentSize = 4 * 1024 * 1024;

// Reads an open /proc file from its start, up to `limit` bytes. Reads of a process that is
// gone fail with ESRCH, even through a descriptor opened while it lived.
ReadOutcome readAll(int fd, size_t limit, std::string& contents) {
  contents.clear();
  char buffer[16 * 1024];
  while (true) {
    const ssize_t got = posix::retryOnInterrupt(
        [&] { return ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(contents.size())); });
    if (got < 0) {
      return errno == ESRCH ? ReadOutcome::missing : ReadOutcome::failed;
    }
    if (got == 0) {
      return ReadOutcome::ok;
    }
    if (contents.size() + static_cast<size_t>(got) > limit) {
      return ReadOutcome::tooLarge;
    }
    contents.append(buffer, static_cast<size_t>(got));
  }
}

UniqueFd openProcFile(int directoryFd, const std::string& path) {
  return UniqueFd(::openat(directoryFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
}

// Reads a /proc file completely, up to `limit` bytes.
ReadOutcome readProcFile(const std::string& path, size_t limit, std::string& contents) {
  UniqueFd fd = openProcFile(AT_FDCWD, path);
  if (!fd.valid()) {
    return errno == ENOENT || errno == ESRCH ? ReadOutcome::missing : ReadOutcome::failed;
  }
  return readAll(fd.get(), limit, contents);
}

// The number after "<field>:" on its own line of a /proc status-style text.
std::optional<long long> numericField(std::string_view text, std::string_view field) {
  auto value = statusField(text, field);
  if (!value) {
    return std::nullopt;
  }
  long long number = 0;
  auto [pointer, error] = std::from_chars(value->data(), value->data() + value->size(), number);
  if (error != std::errc()) {
    return std::nullopt;
  }
  return number;
}

SecStatus untrustworthy(pid_t pid, const std::string& reason) {
  return SecStatus(errSecCSGuestInvalid, "process " + std::to_string(pid) + " refused: " + reason);
}

// Judges the TracerPid line of /proc/PID/status.
SecStatus tracerStatus(pid_t pid, ReadOutcome outcome, const std::string& status) {
  switch (outcome) {
  case ReadOutcome::ok:
    break;
  case ReadOutcome::missing:
    return SecStatus::processGone(pid);
  default:
    return untrustworthy(pid, "cannot read its status");
  }
  auto tracer = numericField(status, "TracerPid");
  if (!tracer) {
    return untrustworthy(pid, "its status has no TracerPid");
  }
  if (*tracer != 0) {
    return untrustworthy(pid, "it is being traced by process " + std::to_string(*tracer));
  }
  return SecStatus::success();
}

// Takes the program image addresses out of /proc/PID/stat.
SecStatus imageStatus(pid_t pid, ReadOutcome outcome, const std::string& text,
                      ProcessImage& image) {
  switch (outcome) {
  case ReadOutcome::ok:
    break;
  case ReadOutcome::missing:
    return SecStatus::processGone(pid);
  default:
    return untrustworthy(pid, "cannot read its stat");
  }
  // The command name (field 2) may hold spaces and parentheses: count from after the last ')'.
  size_t close = text.rfind(')');
  if (close == std::string::npos) {
    return untrustworthy(pid, "its stat is malformed");
  }
  std::string_view rest = std::string_view(text).substr(close + 1);
  uint64_t fields[52] = {};
  size_t field = 3;
  while (!rest.empty() && field < 52) {
    while (!rest.empty() && rest.front() == ' ') {
      rest.remove_prefix(1);
    }
    size_t end = rest.find(' ');
    std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    std::from_chars(token.data(), token.data() + token.size(), fields[field]);
    ++field;
  }
  if (field < 52) {
    return untrustworthy(pid, "its stat is too short");
  }
  image.argStart = fields[48];
  image.argEnd = fields[49];
  image.envStart = fields[50];
  image.envEnd = fields[51];
  return SecStatus::success();
}

} // namespace

ReadOutcome readProcessFile(int processDirectory, const char* name, size_t limit,
                            std::string& contents) {
  UniqueFd fd = openProcFile(processDirectory, name);
  if (!fd.valid()) {
    return errno == ENOENT || errno == ESRCH ? ReadOutcome::missing : ReadOutcome::failed;
  }
  return readAll(fd.get(), limit, contents);
}

UniqueFd openPidfd(pid_t pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

UniqueFd peerPidfd(int socketFd) {
  int pidfd = -1;
  socklen_t length = sizeof pidfd;
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0) {
    return UniqueFd();
  }
  return UniqueFd(pidfd);
}

bool isPidfdAlive(int pidfd) {
  struct pollfd entry = {pidfd, POLLIN, 0};
  const int ready = posix::retryOnInterrupt([&] { return ::poll(&entry, 1, 0); });
  return ready == 0;
}

std::optional<pid_t> pidOfPidfd(int pidfd) {
  std::string text;
  if (readProcFile("/proc/self/fdinfo/" + std::to_string(pidfd), kMaxStatusSize, text) !=
      ReadOutcome::ok) {
    return std::nullopt;
  }
  auto pid = numericField(text, "Pid");
  if (!pid || *pid <= 0) {
    return std::nullopt;
  }
  return static_cast<pid_t>(*pid);
}

SecStatus checkNotTraced(pid_t pid) {
  std::string status;
  ReadOutcome outcome =
      readProcFile("/proc/" + std::to_string(pid) + "/status", kMaxStatusSize, status);
  return tracerStatus(pid, outcome, status);
}

SecStatus readProcessImage(pid_t pid, ProcessImage& image) {
  std::string text;
  ReadOutcome outcome =
      readProcFile("/proc/" + std::to_string(pid) + "/stat", kMaxStatusSize, text);
  return imageStatus(pid, outcome, text, image);
}

SecStatus checkProcessHardening(pid_t pid, ProcessImage* image) {
  if (SecStatus status = checkNotTraced(pid); !status) {
    return status;
  }
  // While an exec is under way /proc already shows the new executable but an empty
  // environment: such a process cannot be judged yet.
  ProcessImage before;
  if (SecStatus status = readProcessImage(pid, before); !status) {
    return status;
  }
  if (before.envEnd == 0) {
    return untrustworthy(pid, "it is in the middle of starting a program");
  }
  std::string environment;
  switch (
      readProcFile("/proc/" + std::to_string(pid) + "/environ", kMaxEnvironmentSize, environment)) {
  case ReadOutcome::ok:
    break;
  case ReadOutcome::missing:
    return SecStatus::processGone(pid);
  case ReadOutcome::tooLarge:
    return untrustworthy(pid, "its environment is too large to inspect");
  case ReadOutcome::failed:
    return untrustworthy(pid, "cannot read its environment");
  }
  static constexpr std::string_view kInjectionVariables[] = {
      "LD_PRELOAD=", "LD_AUDIT=", "LD_LIBRARY_PATH="};
  std::string_view rest = environment;
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    for (std::string_view variable : kInjectionVariables) {
      if (entry.substr(0, variable.size()) == variable) {
        return untrustworthy(pid, "it was started with " +
                                      std::string(variable.substr(0, variable.size() - 1)));
      }
    }
  }
  // The environment read belongs to the program inspected only if no exec came between.
  ProcessImage after;
  if (SecStatus status = readProcessImage(pid, after); !status) {
    return status;
  }
  if (!(after == before)) {
    return untrustworthy(pid, "it started another program during the check");
  }
  if (image != nullptr) {
    *image = after;
  }
  return SecStatus::success();
}

SecStatus ProcessFiles::open(pid_t pid, ProcessFiles& files) {
  ProcessFiles opened;
  opened.pid_ = pid;
  opened.directory_ = UniqueFd(
      ::open(("/proc/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.directory_.valid()) {
    return SecStatus::processGone(pid);
  }
  // The main thread's own stat, not the process's: the fields read are the same (the memory
  // layout is the process's), but the process's record sums the times of all threads, so its
  // cost would grow with every thread the peer starts, for each of its frames.
  const std::string threadStat = "task/" + std::to_string(pid) + "/stat";
  opened.stat_ = openProcFile(opened.directory_.get(), threadStat);
  opened.status_ = openProcFile(opened.directory_.get(), "status");
  if (!opened.stat_.valid() || !opened.status_.valid()) {
    return SecStatus::processGone(pid);
  }
  files = std::move(opened);
  return SecStatus::success();
}

namespace {

// Reads an open /proc file that the kernel renders as one record (such as "stat") with a
// single read: such a file is produced whole at offset 0, so a read into a larger buffer gets
// all of it, and a read that fills the buffer means the file is too large.
ReadOutcome readRecord(int fd, size_t limit, std::string& contents) {
  contents.resize(limit + 1);
  const ssize_t got =
      posix::retryOnInterrupt([&] { return ::pread(fd, contents.data(), contents.size(), 0); });
  if (got < 0) {
    contents.clear();
    return errno == ESRCH ? ReadOutcome::missing : ReadOutcome::failed;
  }
  if (static_cast<size_t>(got) > limit) {
    contents.clear();
    return ReadOutcome::tooLarge;
  }
  contents.resize(static_cast<size_t>(got));
  return ReadOutcome::ok;
}

} // namespace

SecStatus ProcessFiles::readImage(ProcessImage& image) const {
  std::string text;
  return imageStatus(pid_, readRecord(stat_.get(), kMaxStatRecordSize, text), text, image);
}

SecStatus ProcessFiles::checkNotTraced() const {
  std::string text;
  return tracerStatus(pid_, readAll(status_.get(), kMaxStatusSize, text), text);
}

SecStatus ProcessFiles::executable(uint64_t& device, uint64_t& inode) const {
  struct stat status {};
  if (::fstatat(directory_.get(), "exe", &status, 0) != 0) {
    return SecStatus::processGone(pid_);
  }
  device = status.st_dev;
  inode = status.st_ino;
  return SecStatus::success();
}

} // namespace platform::security
