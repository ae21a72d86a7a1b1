#include "DirectConnection.h"

#include "AgentClient.h"
#include "ExitCode.h"
#include "FailureReport.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"
#include "ipc/client/MainBundleHandshake.h"

#include <algorithm>
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
// The handshake's limit, the engine's own send time-out.
constexpr auto kHandshakeLimit = 10s;

} // namespace

int connectSocket(std::string& failure) {
  const std::string& path = agentSocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof(address.sun_path) - 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    failure = "cannot connect to the agent at " + path + ": " + std::strerror(errno);
    if (fd >= 0) {
      ::close(fd);
    }
    return -1;
  }
  return fd;
}

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

std::optional<platform::xpc::Message> exchangeFrame(platform::xpc::Connection& connection,
                                                    platform::Bytes bytes,
                                                    std::chrono::milliseconds limit) {
  return connection.sendWithReplyAndWait({std::move(bytes), {}}, limit);
}

int reportNoReply(const platform::xpc::Connection& connection) {
  if (connection.isValid()) {
    return fail(kTimeout, "the agent did not answer in time (timeout)");
  }
  return fail(kProtocolFailure, "the agent ended the connection");
}

std::optional<int> performHandshake(platform::xpc::Connection& connection) {
  try {
    ipc::XPCMessage message;
    message.flags = ipc::XPCMessage::Flag::handshake();
    message.binaryPayload =
        ipc::XPCMessageMapper().makeBinaryPayload(ipc::mainBundleHandshakePayload());
    const ipc::XPCMessageJSONEncoder encoder;
    auto answer = exchangeFrame(connection, encoder.encode(message), kHandshakeLimit);
    if (!answer) {
      return reportNoReply(connection);
    }
    const std::string_view text(reinterpret_cast<const char*>(answer->payload.data()),
                                answer->payload.size());
    ipc::XPCMessageValidator().validateAcknowledge(encoder.decode(text));
    return std::nullopt;
  } catch (...) {
    return reportFailure(std::current_exception(), StartDiagnosis());
  }
}

} // namespace agentctl
