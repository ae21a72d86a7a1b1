// A minimal client of the agent: checks that the agent is alive, then asks it, through a
// privileged access task, for the size of a file that the calling user may not be able to
// read. Built against the installed development package (find_package(QuillbyAgent)).
//
//   health-client [PATH]     PATH defaults to /etc/shadow
//
// The agent admits it only when it is signed by an identity that the agent's trust anchors
// accept and installed set-group-ID to the clients' group, as agentctl is.

#include "api/HealthCheckRequest.h"
#include "api/PrivilegedAccessTaskRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/ErrorDescription.h"
#include "ipc/Result.h"
#include "ipc/client/ConnectableClient.h"
#include "ipc/client/MainBundleHandshake.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"
#include "platform/security/ClientHardening.h"
#include "tasks/model/KLVPrivilegedAccessFileSizeTask.h"
#include "tasks/model/KLVResultObject.h"
#include "tasks/model/TaskClasses.h"

#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

std::shared_ptr<ipc::ConnectableClient> makeClient() {
  return ipc::ConnectableClient::create(ipc::ConnectableClient::RequestPolicy::autoconnect, [] {
    return ipc::XPCClientEngine::create(
        ipc::XPCClientEngine::Descriptor::privilegedHelper("com.quillby.Lumora5.Agent"),
        ipc::mainBundleHandshakePayload);
  });
}

// Sends `request` and waits on this thread for the agent's answer (connecting first): the
// response, or none after saying on standard error why there is none. `what` names the
// request in that message.
template <class Q>
std::optional<typename Q::ResponseType> call(ipc::ConnectableClient& client, const Q& request,
                                             const char* what) {
  using Reply = ipc::Result<typename Q::ResponseType, api::PrivilegedOperationError>;
  std::optional<Reply> reply;
  try {
    reply = client.sendAndWait<Q, Reply>(request);
  } catch (...) {
    std::cerr << what << " failed: " << ipc::errorDescription(std::current_exception()) << "\n";
    return std::nullopt;
  }
  if (!reply->isSuccess()) {
    std::cerr << what << " refused: " << platform::json::write(reply->encodeJSON()) << "\n";
    return std::nullopt;
  }
  return reply->value();
}

bool checkHealth(ipc::ConnectableClient& client) {
  auto health = call(client, api::HealthCheckRequest{}, "health check");
  if (!health) {
    return false;
  }
  std::cout << "agent version " << health->version << "\n";
  return true;
}

bool printFileSize(ipc::ConnectableClient& client, const std::string& path) {
  auto task = std::make_shared<tasks::KLVPrivilegedAccessFileSizeTask>(
      platform::URL::fileURLWithPath(path));
  platform::NSError error;
  auto archive = platform::archive::archivedDataWithRootObject(task, true, &error);
  if (!archive) {
    std::cerr << "cannot archive the task: " << error.localizedDescription() << "\n";
    return false;
  }

  auto resultArchive = call(client, api::PrivilegedAccessTaskRequest{std::move(*archive)}, "task");
  if (!resultArchive) {
    return false;
  }

  // The result is a keyed archive of a KLVResultObject, whose value is an NSNumber here. The
  // classes admitted at the root also bound what its value may decode to.
  tasks::registerTaskClasses();
  auto result = std::dynamic_pointer_cast<tasks::KLVResultObject>(
      platform::archive::unarchivedObjectOfClasses(
          {&tasks::KLVResultObject::classObject(), &platform::archive::NSNumber::classObject()},
          *resultArchive, &error));
  if (!result) {
    std::cerr << "the result does not decode: " << error.localizedDescription() << "\n";
    return false;
  }
  if (result->error()) {
    std::cerr << "the agent could not size " << path << ": "
              << result->error()->localizedDescription() << "\n";
    return false;
  }
  auto size = std::dynamic_pointer_cast<platform::archive::NSNumber>(result->value());
  if (!size) {
    std::cerr << "the result carries no size\n";
    return false;
  }
  std::cout << path << ": " << size->int64Value() << " bytes\n";
  return true;
}

} // namespace

int main(int argc, char** argv) {
  // Before anything else: no other process of this user may attach to or read this one.
  platform::NSError hardeningError;
  if (!platform::security::makeProcessNonDumpable(&hardeningError)) {
    std::cerr << "cannot protect this process: " << hardeningError.localizedDescription() << "\n";
    return 1;
  }
  const std::string path = argc > 1 ? argv[1] : "/etc/shadow";
  auto client = makeClient();
  const bool succeeded = checkHealth(*client) && printFileSize(*client, path);
  client->disconnect();
  return succeeded ? 0 : 1;
}
