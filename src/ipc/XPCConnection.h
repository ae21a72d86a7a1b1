#pragma once

#include "ipc/ReplyAttachments.h"
#include "ipc/XPCConnectionType.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/reactive/PassthroughSubject.h"
#include "platform/security/PeerIdentity.h"
#include "platform/xpc/Connection.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace ipc {

// Wraps one transport connection as the framework's connection: decodes incoming frames into
// requests (answering undecodable ones at once), sends messages and awaits their replies with
// a time-out on the connection's own serial queue, and obtains the peer's code identity.
//
// On the accepting side the peer's identity is recorded when the connection is made and checked
// again for every incoming frame: a frame from a peer that has exited, started another program
// or become traced ends the connection like an interruption.
class XPCConnection final : public XPCConnectionType,
                            public std::enable_shared_from_this<XPCConnection> {
public:
  struct Options {
    // Check the peer's identity for every incoming frame (the accepting side).
    bool verifyPeerIdentity = false;
    // The service name for the accepted-connection log line; none shows "<unknown>".
    std::optional<std::string> serviceName;
  };

  // Wraps `transport`, which must not be activated yet.
  static std::shared_ptr<XPCConnection> create(std::shared_ptr<platform::xpc::Connection> transport,
                                               Options options);
  ~XPCConnection() override;

  const XPCIdentifier<XPCConnectionType>& uuid() const override { return uuid_; }
  std::string description() const override { return "Connection<" + uuid_.description() + ">"; }
  platform::reactive::AnyPublisher<XPCRequest> requests() override;
  platform::reactive::AnyPublisher<XPCConnectionError> errors() override;
  XPCCredentials credentials() override;
  platform::reactive::AnyPublisher<XPCMessage> send(XPCMessage message,
                                                    std::chrono::milliseconds timeout) override;
  XPCMessage sendAndWait(XPCMessage message, std::chrono::milliseconds timeout) override;
  void sendWithoutReply(const platform::Bytes& bytes) override;
  const XPCMessageEncoderType& encoder() const override { return encoder_; }
  void activate() override;
  void invalidate() override;
  void markHandshaken() override;
  bool isHandshaken() const { return handshaken_.load(); }
  // Whether the connection has ended (its invalidation event has come).
  bool hasEnded() const { return ended_.load(); }

  // Before the handshake a peer may send frames of at most this size (the largest genuine
  // handshake message is far smaller), and must have completed it within the deadline; an
  // unknown peer cannot pin much memory or a descriptor for long.
  static constexpr uint32_t kMaxUnauthenticatedPayloadSize = 64 * 1024;
  static constexpr std::chrono::seconds kHandshakeDeadline{5};

  const std::optional<std::string>& serviceName() const { return options_.serviceName; }
  // Why the peer's identity could not be recorded at creation (verifyPeerIdentity): such a
  // connection must be refused, since no frame of it can be checked.
  const std::optional<std::string>& identityFailure() const { return identityFailure_; }
  pid_t peerProcessIdentifier() const { return transport_->peerCredentials().pid; }
  uid_t peerUserIdentifier() const { return transport_->peerCredentials().uid; }
  // The peer's pid and uid as the kernel recorded them at connect, and its executable as it is
  // now (peerLogText gives the text for log lines).
  ClientIdentity clientIdentity() const override;
  // How many connection wrappers exist (leak tests).
  static long liveCountForTest() { return liveCount_.load(); }
  // The serial queue that runs this connection's reply time-outs, made on first use.
  platform::dispatch::DispatchQueue timeoutQueue();

private:
  class RequestStream;
  struct RawRequest {
    platform::Bytes message;
    platform::xpc::Reply reply;
  };

  XPCConnection(std::shared_ptr<platform::xpc::Connection> transport, Options options);
  void install();
  void receive(platform::xpc::Message message, platform::xpc::Reply reply);
  std::optional<XPCRequest>
  makeRequest(RawRequest raw, const std::shared_ptr<ReplyAttachments::Descriptors>& attachments);
  void connectionEnded();

  const XPCIdentifier<XPCConnectionType> uuid_;
  const Options options_;
  std::shared_ptr<platform::xpc::Connection> transport_;
  XPCMessageJSONEncoder encoder_;
  platform::reactive::PassthroughSubject<XPCConnectionError> errors_;
  std::shared_ptr<RequestStream> requestStream_;
  std::optional<platform::security::PeerIdentity> peerIdentity_;
  std::optional<std::string> identityFailure_;
  std::atomic<bool> ended_{false};
  std::atomic<bool> handshaken_{false};

  static inline std::atomic<long> liveCount_{0};
  std::mutex timeoutQueueMutex_;
  std::optional<platform::dispatch::DispatchQueue> timeoutQueue_;
};

} // namespace ipc
