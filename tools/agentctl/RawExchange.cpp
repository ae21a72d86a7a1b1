#include "RawExchange.h"

#include "DirectConnection.h"
#include "ExitCode.h"
#include "FailureReport.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace agentctl {
namespace {

using namespace std::chrono_literals;
constexpr auto kReplyLimit = 10s;

[[noreturn]] void execAgain(int fd, const std::string& bytes) {
  const std::string socket = std::to_string(fd);
  const char* arguments[] = {"agentctl",     "raw",         "--no-handshake", "--socket-fd",
                             socket.c_str(), bytes.c_str(), nullptr};
  ::execv("/proc/self/exe", const_cast<char* const*>(arguments));
  std::cerr << "agentctl: cannot start the program again: " << std::strerror(errno) << "\n";
  std::_Exit(kProtocolFailure);
}

} // namespace

int runRawExchange(const RawOptions& options) {
  std::string failure;
  const int fd = options.inheritedSocket ? *options.inheritedSocket : connectSocket(failure);
  if (fd < 0) {
    return fail(kConnectionRefused, failure);
  }
  auto connection = adoptSocket(fd, failure);
  if (!connection) {
    return fail(kConnectionRefused, failure);
  }
  if (options.handshake) {
    if (auto refused = performHandshake(*connection)) {
      return *refused;
    }
  }
  if (options.execAfterHandshake) {
    execAgain(fd, options.bytes);
  }
  ::close(fd); // the connection reads and writes its own duplicate
  auto reply = exchangeFrame(
      *connection, platform::Bytes(options.bytes.begin(), options.bytes.end()), kReplyLimit);
  if (!reply) {
    return reportNoReply(*connection);
  }
  std::cout.write(reinterpret_cast<const char*>(reply->payload.data()),
                  static_cast<std::streamsize>(reply->payload.size()));
  std::cout << "\n";
  return kSucceeded;
}

} // namespace agentctl
