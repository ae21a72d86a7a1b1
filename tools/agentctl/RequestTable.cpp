#include "RequestTable.h"

#include "ExitCode.h"
#include "FailureReport.h"
#include "api/PrivilegedOperationError.h"
#include "api/Requests.h"
#include "ipc/ErrorDescription.h"
#include "ipc/ReplyAttachments.h"
#include "ipc/Result.h"
#include "platform/reactive/Await.h"

#include <chrono>
#include <iostream>
#include <optional>

namespace agentctl {
namespace {

using namespace std::chrono_literals;

// A simple request waits for the handshake and its reply, each bounded by the engine's own
// time-out. A sequence may run for long; this limit only guards against a stuck one.
constexpr auto kSequenceLimit = std::chrono::milliseconds(std::chrono::hours(1));

bool isTimedOut(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const platform::reactive::WaitTimedOut&) {
    return true;
  } catch (...) {
    return false;
  }
}

constexpr std::string_view withoutModule(std::string_view reflectingName) {
  return reflectingName.substr(reflectingName.rfind('.') + 1);
}

template <class Q> std::optional<Q> decodeBody(const platform::json::Value& body) {
  try {
    return Q::decodeJSON(platform::json::Decoder(body));
  } catch (const std::exception& error) {
    std::cerr << "agentctl: the JSON does not describe a " << withoutModule(Q::reflectingName)
              << ": " << ipc::errorDescription(error) << "\n";
    return std::nullopt;
  }
}

template <class Q>
int sendSimple(ipc::ConnectableClient& client, const StartDiagnosis& diagnosis,
               const platform::json::Value& body, const SendOptions&) {
  using Reply = ipc::Result<typename Q::ResponseType, api::PrivilegedOperationError>;
  auto request = decodeBody<Q>(body);
  if (!request) {
    return kBadJSON;
  }
  std::optional<Reply> reply;
  ipc::ReplyAttachments::Descriptors descriptors;
  try {
    reply = client.sendAndWait<Q, Reply>(*request, &descriptors);
  } catch (...) {
    return reportFailure(std::current_exception(), diagnosis);
  }
  // Descriptors of a file-handle task travel with the reply; this command has no use for them.
  if (!descriptors.empty()) {
    std::cerr << "agentctl: the reply carried " << descriptors.size() << " file descriptor(s)\n";
  }
  std::cout << platform::json::write(reply->encodeJSON()) << "\n";
  return reply->isSuccess() ? kSucceeded : kOperationFailed;
}

template <class Q>
int sendSequence(ipc::ConnectableClient& client, const StartDiagnosis& diagnosis,
                 const platform::json::Value& body, const SendOptions& options) {
  using Element = typename Q::ResponseType;
  auto request = decodeBody<Q>(body);
  if (!request) {
    return kBadJSON;
  }
  // Waiting runs out at the cancel time; ending the wait cancels the subscription, and with it
  // the sequence on the agent (the cancel message is written before the wait returns).
  auto outcome = platform::reactive::await<Element>(
      client.sendSequence<Q, Element>(*request), options.cancelAfter.value_or(kSequenceLimit),
      [](const Element& element) {
        std::cout << platform::json::write(platform::json::encode(element)) << std::endl;
      });
  if (outcome.error) {
    if (options.cancelAfter && isTimedOut(outcome.error)) {
      std::cerr << "agentctl: cancelled the sequence\n";
      return kSucceeded;
    }
    return reportFailure(outcome.error, diagnosis);
  }
  return kSucceeded;
}

template <class Q> RequestCommand simple() {
  return {withoutModule(Q::reflectingName), false, &sendSimple<Q>};
}
template <class Q> RequestCommand sequence() {
  return {withoutModule(Q::reflectingName), true, &sendSequence<Q>};
}

} // namespace

const std::vector<RequestCommand>& requestCommands() {
  static const std::vector<RequestCommand> commands = {
      simple<api::AddUserToAllowedList>(),
      simple<api::BinaryThinningRequest>(),
      simple<api::FileExistsRequest>(),
      simple<api::FileMoveRequest>(),
      simple<api::FileSizeRequest>(),
      simple<api::FlushDNSCacheRequest>(),
      simple<api::HealthCheckRequest>(),
      simple<api::PeriodicScriptRequest>(),
      simple<api::PrivilegedAccessTaskRequest>(),
      simple<api::PrivilegedAgentRemoveRequest>(),
      simple<api::ReindexSpotlightRequest>(),
      simple<api::RemoveASLLogsRequest>(),
      simple<api::RemoveBrokenStartupItemRequests>(),
      simple<api::RemoveDiagnosticsLogsRequest>(),
      simple<api::RemoveFileRequest>(),
      simple<api::RemoveLaunchAgentRequest>(),
      simple<api::RemovePackageReceiptRequest>(),
      sequence<api::RepairDiskPermissionsRequest>(),
      simple<api::TerminateRequest>(),
      simple<api::TruncateFileRequest>(),
  };
  return commands;
}

const RequestCommand* findRequestCommand(std::string_view name) {
  for (const auto& command : requestCommands()) {
    if (command.name == name) {
      return &command;
    }
  }
  return nullptr;
}

} // namespace agentctl
