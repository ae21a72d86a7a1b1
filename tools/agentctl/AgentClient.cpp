#include "AgentClient.h"

#include "WatchedConnection.h"
#include "ipc/XPCConnection.h"
#include "ipc/client/MainBundleHandshake.h"
#include "ipc/client/UnreachableConnection.h"
#include "platform/xpc/Connection.h"

namespace agentctl {
namespace {

std::string& socketPathSetting() {
  static std::string path = "/var/run/" + std::string(kAgentServiceName);
  return path;
}

// The engine's connection to the privileged helper: the socket must belong to root (as for
// XPCClientEngine::Descriptor::privilegedHelper). It is opened here rather than by the engine
// so that the tool can watch the handshake and keep the reason of a failed connect.
ipc::AnyXPCConnection connectToAgent(const std::shared_ptr<StartDiagnosis>& diagnosis) {
  platform::xpc::TransportOptions options;
  options.orderedCalls = true; // sequence elements arrive in order and are handled in order
  platform::NSError error;
  auto transport = platform::xpc::Connection::connectToPath(
      agentSocketPath(), platform::xpc::PeerRequirement::root, options, &error);
  if (!transport) {
    diagnosis->recordConnectionFailure(error);
    return std::make_shared<ipc::UnreachableConnection>();
  }
  return std::make_shared<WatchedConnection>(ipc::XPCConnection::create(std::move(transport), {}),
                                             diagnosis);
}

} // namespace

const std::string& agentSocketPath() {
  return socketPathSetting();
}

void setAgentSocketPath(std::string path) {
  socketPathSetting() = std::move(path);
}

std::optional<std::string> ownVersion() {
  return ipc::mainBundleInfoString("CFBundleShortVersionString");
}

std::shared_ptr<ipc::ConnectableClient> makeAgentClient(std::shared_ptr<StartDiagnosis> diagnosis) {
  return ipc::ConnectableClient::create(
      ipc::ConnectableClient::RequestPolicy::autoconnect, [diagnosis] {
        return ipc::XPCClientEngine::create(connectToAgent(diagnosis),
                                            ipc::mainBundleHandshakePayload);
      });
}

} // namespace agentctl
