#include "WatchedConnection.h"

namespace agentctl {

platform::reactive::AnyPublisher<ipc::XPCMessage>
WatchedConnection::send(ipc::XPCMessage message, std::chrono::milliseconds timeout) {
  auto sent = connection_->send(message, timeout);
  if (!message.flags.contains(ipc::XPCMessage::Flag::handshake())) {
    return sent;
  }
  std::weak_ptr<StartDiagnosis> diagnosis = diagnosis_;
  return sent.handleEvents({.receiveOutput =
                                [diagnosis](const ipc::XPCMessage& answer) {
                                  auto record = diagnosis.lock();
                                  if (record &&
                                      answer.flags.contains(ipc::XPCMessage::Flag::error())) {
                                    record->recordHandshakeFailure(std::make_exception_ptr(
                                        answer.error.value_or(ipc::XPCProtocolError::unknown())));
                                  }
                                },
                            .receiveCompletion =
                                [diagnosis](const platform::reactive::Completion& completion) {
                                  auto record = diagnosis.lock();
                                  if (record && completion.isFailure()) {
                                    record->recordHandshakeFailure(completion.error());
                                  }
                                }});
}

} // namespace agentctl
