#include "ipc/client/XPCClientEngine.h"

#include "ipc/ErrorDescription.h"
#include "ipc/Logger.h"
#include "ipc/XPCConnection.h"
#include "ipc/client/UnreachableConnection.h"
#include "platform/reactive/Empty.h"

#include <cerrno>

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Completion;
using platform::reactive::Deferred;
using platform::reactive::Fail;

namespace {

std::shared_ptr<platform::xpc::Connection>
connectTransport(const XPCClientEngine::Descriptor& descriptor, platform::NSError* error) {
  using Kind = XPCClientEngine::Descriptor::Kind;
  using platform::xpc::PeerRequirement;
  // The server pushes the elements of a sequence in order; they must be handled in that order.
  platform::xpc::TransportOptions options;
  options.orderedCalls = true;
  switch (descriptor.kind) {
  case Kind::privilegedHelper:
    return platform::xpc::Connection::connectToService(descriptor.name, PeerRequirement::root,
                                                       options, error);
  case Kind::machService:
  case Kind::xpcService:
    return platform::xpc::Connection::connectToService(descriptor.name, PeerRequirement::any,
                                                       options, error);
  case Kind::anonymous:
    return platform::xpc::Connection::connectToPath(descriptor.name, PeerRequirement::any, options,
                                                    error);
  }
  return nullptr;
}

} // namespace

std::shared_ptr<XPCClientEngine> XPCClientEngine::create(Descriptor descriptor,
                                                         HandshakeProvider handshakeProvider,
                                                         UIDGenerator uidGenerator) {
  platform::NSError error;
  auto transport = connectTransport(descriptor, &error);
  AnyXPCConnection connection;
  if (transport) {
    connection = XPCConnection::create(std::move(transport), {});
  } else {
    connection = std::make_shared<UnreachableConnection>();
  }
  auto engine =
      create(std::move(connection), std::move(handshakeProvider), std::move(uidGenerator));
  if (!transport) {
    engine->connectionFailure_ = error;
  }
  return engine;
}

std::shared_ptr<XPCClientEngine> XPCClientEngine::create(AnyXPCConnection connection,
                                                         HandshakeProvider handshakeProvider,
                                                         UIDGenerator uidGenerator) {
  return std::shared_ptr<XPCClientEngine>(new XPCClientEngine(
      std::move(connection), std::move(handshakeProvider), std::move(uidGenerator)));
}

XPCClientEngine::XPCClientEngine(AnyXPCConnection connection, HandshakeProvider handshakeProvider,
                                 UIDGenerator uidGenerator)
    : connection_(std::move(connection)), uidGenerator_(std::move(uidGenerator)),
      handshakeProvider_(std::move(handshakeProvider)) {}

XPCClientEngine::~XPCClientEngine() {
  bag_.clear();
  connection_->invalidate();
}

AnyPublisher<EmptyValue> XPCClientEngine::start() {
  std::lock_guard lock(lock_);
  if (!isValidForStart_) {
    return Fail<EmptyValue>(ClientError::engineAlreadyStarted());
  }
  if (started_) {
    return *started_;
  }
  std::weak_ptr<XPCClientEngine> weakSelf = weak_from_this();
  auto connection = connection_;
  auto handshake = Deferred([weakSelf]() -> AnyPublisher<EmptyValue> {
    auto self = weakSelf.lock();
    if (!self) {
      return Fail<EmptyValue>(ClientError::notConnected());
    }
    HandshakePayload payload = self->handshakeProvider_(); // a throw fails the start
    XPCMessage message;
    message.flags = XPCMessage::Flag::handshake();
    message.binaryPayload = self->mapper_.makeBinaryPayload(payload);
    return self->connection_->send(std::move(message), kSendTimeout)
        .tryMap([weakSelf](const XPCMessage& answer) {
          auto owner = weakSelf.lock();
          if (!owner) {
            throw ClientError::notConnected();
          }
          owner->validator_.validateAcknowledge(answer);
          return EmptyValue{};
        });
  });
  auto ended = connection->errors().flatMap(
      [](const XPCConnectionError& error) { return Fail<EmptyValue>(error); });
  started_ = handshake.merge(ended)
                 .first()
                 .handleEvents({.receiveSubscription =
                                    [weakSelf] {
                                      auto self = weakSelf.lock();
                                      if (!self) {
                                        return;
                                      }
                                      {
                                        std::lock_guard lock(self->lock_);
                                        self->isValidForStart_ = false;
                                      }
                                      self->bindServerRequests();
                                      self->connection_->activate();
                                    },
                                .receiveCancel = [connection] { connection->invalidate(); }})
                 .share();
  return *started_;
}

void XPCClientEngine::bindServerRequests() {
  std::weak_ptr<XPCClientEngine> weakSelf = weak_from_this();
  auto serverRequests = serverRequests_;
  connection_->requests()
      .sink([serverRequests](const Completion& completion) { serverRequests.send(completion); },
            [weakSelf, serverRequests](XPCRequest request) {
              auto self = weakSelf.lock();
              if (!self) {
                return;
              }
              try {
                self->validateSequence(request.message);
              } catch (const std::exception& failure) {
                if (request.needsReply && request.replyHandler) {
                  request.replyHandler(XPCMessage::errorReply(XPCProtocolError::from(failure)));
                }
                return;
              }
              serverRequests.send(request);
            })
      .store(bag_);
}

void XPCClientEngine::validateSequence(const XPCMessage& message) const {
  if (!message.flags.contains(XPCMessage::Flag::sequence())) {
    throw XPCProtocolError::messageTypeMismatch(message.flags, XPCMessage::Flag::sequence());
  }
  if (!message.sequenceID) {
    throw XPCProtocolError::missingSequenceID();
  }
  if (!runningSequences_.contains(*message.sequenceID)) {
    throw XPCProtocolError::sequenceIsNotRunning(*message.sequenceID);
  }
}

void XPCClientEngine::sendCancel(const platform::UUID& sequenceID) {
  XPCMessage cancel;
  cancel.flags = XPCMessage::Flag::sequence() | XPCMessage::Flag::cancel();
  cancel.sequenceID = sequenceID;
  try {
    connection_->sendWithoutReply(connection_->encoder().encode(cancel));
  } catch (const std::exception& failure) {
    Logger::error([&] {
      return "Failed to send cancel for sequence " + sequenceID.uuidString() +
             ", error: " + errorDescription(failure);
    });
  }
}

XPCMessage XPCClientEngine::exchangeAndWait(XPCMessage message) {
  return connection_->sendAndWait(std::move(message), kSendTimeout);
}

} // namespace ipc
