#include "RawExchange.h"

#include "AgentClient.h"
#include "ExitCode.h"
#include "FailureReport.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/ServiceName.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace agentctl {
namespace {

using namespace std::chrono_literals;
constexpr auto kReplyLimit = 10s;

int fail(int code, const std::string& text) {
  std::cerr << "agentctl: " << text << "\n";
  return code;
}

// A connected socket to the agent, or -1 with `failure` set. Not close-on-exec: the
// exec-after-handshake mode hands it to the next program.
int connectSocket(std::string& failure) {
  platform::NSError error;
  auto path = platform::xpc::socketPathForService(kAgentServiceName, &error);
  if (!path) {
    failure = error.localizedDescription();
    return -1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path->data(), std::min(path->size(), sizeof(address.sun_path) - 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    failure = "cannot connect to the agent at " + *path + ": " + std::strerror(errno);
    if (fd >= 0) {
      ::close(fd);
    }
    return -1;
  }
  return fd;
}

// A transport connection on a close-on-exec duplicate of `fd`; the server end must be root.
std::shared_ptr<platform::xpc::Connection> adoptSocket(int fd, std::string& failure) {
  platform::NSError error;
  platform::xpc::UniqueFd duplicate(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  auto connection =
      duplicate ? platform::xpc::Connection::adopt(std::move(duplicate), {}, &error) : nullptr;
  if (!connection) {
    failure = "cannot use the connection: " + error.localizedDescription();
    return nullptr;
  }
  if (connection->peerCredentials().uid != 0) {
    failure = "the agent's socket does not belong to root";
    return nullptr;
  }
  connection->activate();
  return connection;
}

// Sends `bytes` as one call and gives the reply's bytes; none when the connection ended or no
// reply came in time.
std::optional<platform::Bytes> exchange(platform::xpc::Connection& connection,
                                        platform::Bytes bytes) {
  auto reply = connection.sendWithReplyAndWait({std::move(bytes), {}}, kReplyLimit);
  if (!reply) {
    return std::nullopt;
  }
  return std::move(reply->payload);
}

int reportNoReply(const platform::xpc::Connection& connection) {
  if (connection.isValid()) {
    return fail(kTimeout, "the agent did not answer in time (timeout)");
  }
  return fail(kProtocolFailure, "the agent ended the connection");
}

// The handshake with this program's own payload; the exit code of its failure, or none.
std::optional<int> performHandshake(platform::xpc::Connection& connection) {
  try {
    ipc::XPCMessage message;
    message.flags = ipc::XPCMessage::Flag::handshake();
    message.binaryPayload = ipc::XPCMessageMapper().makeBinaryPayload(ownHandshakePayload());
    const ipc::XPCMessageJSONEncoder encoder;
    auto answer = exchange(connection, encoder.encode(message));
    if (!answer) {
      return reportNoReply(connection);
    }
    const std::string_view text(reinterpret_cast<const char*>(answer->data()), answer->size());
    ipc::XPCMessageValidator().validateAcknowledge(encoder.decode(text));
    return std::nullopt;
  } catch (...) {
    return reportFailure(std::current_exception(), StartDiagnosis());
  }
}

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
  auto reply = exchange(*connection, platform::Bytes(options.bytes.begin(), options.bytes.end()));
  if (!reply) {
    return reportNoReply(*connection);
  }
  std::cout.write(reinterpret_cast<const char*>(reply->data()),
                  static_cast<std::streamsize>(reply->size()));
  std::cout << "\n";
  return kSucceeded;
}

} // namespace agentctl
