#include "platform/xpc/SocketActivation.h"

#include "platform/xpc/TransportError.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::xpc {
namespace {

constexpr int kFirstHandedDescriptor = 3;
// A unit hands over a few sockets; a count beyond this is a broken environment, not a unit.
constexpr long kMaxHandedDescriptors = 1024;

std::optional<long> numberIn(const char* variable) {
  const char* text = std::getenv(variable);
  if (text == nullptr) {
    return std::nullopt;
  }
  long value = 0;
  const std::string_view view(text);
  auto [end, failure] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (failure != std::errc() || end != view.data() + view.size()) {
    return std::nullopt;
  }
  return value;
}

// Whether `fd` is a Unix stream socket that listens at `path`.
bool listensAt(int fd, const std::string& path) {
  int type = 0;
  int listening = 0;
  socklen_t length = sizeof(type);
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
    return false;
  }
  length = sizeof(listening);
  if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || listening == 0) {
    return false;
  }
  sockaddr_un address{};
  length = sizeof(address);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sun_family != AF_UNIX || length <= offsetof(sockaddr_un, sun_path)) {
    return false;
  }
  const std::string bound(address.sun_path,
                          strnlen(address.sun_path, length - offsetof(sockaddr_un, sun_path)));
  if (bound == path) {
    return true;
  }
  // The same socket file by another name ("/run/x" for "/var/run/x").
  struct stat boundFile {};
  struct stat expectedFile {};
  return !bound.empty() && ::stat(bound.c_str(), &boundFile) == 0 &&
         ::stat(path.c_str(), &expectedFile) == 0 && S_ISSOCK(boundFile.st_mode) &&
         boundFile.st_dev == expectedFile.st_dev && boundFile.st_ino == expectedFile.st_ino;
}

} // namespace

bool takeActivatedSocket(const std::string& path, UniqueFd& socket, NSError* error) {
  socket.reset();
  const auto pid = numberIn("LISTEN_PID");
  const auto count = numberIn("LISTEN_FDS");
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  if (!pid || !count || *pid != ::getpid() || *count <= 0) {
    return true; // not started on demand, or the sockets were meant for another process
  }
  if (*count > kMaxHandedDescriptors) {
    setError(error, makeTransportError(TransportErrorCode::listenerFailure,
                                       "LISTEN_FDS names too many descriptors."));
    return false;
  }
  for (int fd = kFirstHandedDescriptor; fd < kFirstHandedDescriptor + *count; ++fd) {
    UniqueFd handed(fd);
    if (!socket && listensAt(fd, path)) {
      const int flags = ::fcntl(fd, F_GETFL);
      if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || flags < 0 ||
          ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        setError(error, makeTransportError(TransportErrorCode::listenerFailure,
                                           "Could not prepare the socket handed over.", errno));
        return false;
      }
      socket = std::move(handed);
    }
  }
  if (!socket) {
    setError(error,
             makeTransportError(TransportErrorCode::listenerFailure,
                                "The service manager handed over " + std::to_string(*count) +
                                    " descriptors, but none is a Unix stream socket listening "
                                    "at " +
                                    path + ".",
                                EINVAL));
    return false;
  }
  return true;
}

} // namespace platform::xpc
