#include "ipc/XPCConnection.h"

#include "ipc/Logger.h"
#include "ipc/PendingReply.h"
#include "ipc/SecurityErrors.h"
#include "ipc/XPCProtocolError.h"
#include "platform/security/DynamicCode.h"

#include <algorithm>
#include <unistd.h>

namespace ipc {

using platform::reactive::AnyPublisher;
using platform::reactive::Completion;
using platform::reactive::Demand;
using platform::reactive::Subscriber;
using platform::reactive::Subscription;

// The incoming requests of one connection. Unlike a subject it hands each request to its
// subscribers on the thread that received it, without waiting for the request before, so that
// the requests of one connection run side by side as the transport delivers them.
class XPCConnection::RequestStream final : public std::enable_shared_from_this<RequestStream> {
public:
  void subscribe(std::shared_ptr<Subscriber<XPCRequest>> subscriber) {
    auto entry = std::make_shared<Entry>(weak_from_this(), subscriber);
    std::optional<Completion> completed;
    {
      std::lock_guard lock(mutex_);
      completed = completion_;
      if (!completed) {
        entries_.push_back(entry);
      }
    }
    subscriber->receiveSubscription(entry);
    if (completed) {
      entry->finish(*completed);
    }
  }

  void deliver(const XPCRequest& request) {
    for (const auto& entry : snapshot()) {
      entry->deliver(request);
    }
  }

  void complete(Completion completion) {
    std::vector<std::shared_ptr<Entry>> entries;
    {
      std::lock_guard lock(mutex_);
      if (completion_) {
        return;
      }
      completion_ = completion;
      entries.swap(entries_);
    }
    for (const auto& entry : entries) {
      entry->finish(completion);
    }
  }

private:
  // One subscriber. Values may reach it from several threads at once, but its completion
  // never overlaps a value: a completion that arrives during deliveries waits for the last of
  // them to return and is then handed on by that thread.
  class Entry final : public Subscription {
  public:
    Entry(std::weak_ptr<RequestStream> stream, std::shared_ptr<Subscriber<XPCRequest>> subscriber)
        : stream_(std::move(stream)), subscriber_(std::move(subscriber)) {}

    // Demand only opens the flow: the engines ask for everything.
    void request(Demand demand) override {
      if (!demand.isNone()) {
        requested_ = true;
      }
    }
    void cancel() override {
      std::shared_ptr<Subscriber<XPCRequest>> released;
      {
        std::lock_guard lock(mutex_);
        released = std::move(subscriber_);
        ended_ = true;
      }
      if (auto stream = stream_.lock()) {
        stream->remove(this);
      }
    }
    void deliver(const XPCRequest& request) {
      if (!requested_) {
        return;
      }
      std::shared_ptr<Subscriber<XPCRequest>> subscriber;
      {
        std::lock_guard lock(mutex_);
        if (ended_ || pendingCompletion_ || !subscriber_) {
          return;
        }
        subscriber = subscriber_;
        ++deliveriesInFlight_;
      }
      subscriber->receiveValue(request);
      std::optional<Completion> completion;
      {
        std::lock_guard lock(mutex_);
        if (--deliveriesInFlight_ == 0 && pendingCompletion_ && !ended_) {
          completion = std::move(pendingCompletion_);
          subscriber = std::move(subscriber_);
          ended_ = true;
        } else {
          subscriber.reset();
        }
      }
      if (completion && subscriber) {
        subscriber->receiveCompletion(*completion);
      }
    }
    void finish(const Completion& completion) {
      std::shared_ptr<Subscriber<XPCRequest>> subscriber;
      {
        std::lock_guard lock(mutex_);
        if (ended_ || pendingCompletion_) {
          return;
        }
        if (deliveriesInFlight_ > 0) {
          pendingCompletion_ = completion;
          return;
        }
        subscriber = std::move(subscriber_);
        ended_ = true;
      }
      if (subscriber) {
        subscriber->receiveCompletion(completion);
      }
    }

  private:
    std::weak_ptr<RequestStream> stream_;
    std::mutex mutex_;
    std::shared_ptr<Subscriber<XPCRequest>> subscriber_;
    size_t deliveriesInFlight_ = 0;
    std::optional<Completion> pendingCompletion_;
    bool ended_ = false;
    std::atomic<bool> requested_{false};
  };

  std::vector<std::shared_ptr<Entry>> snapshot() {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  void remove(const Entry* entry) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [entry](const auto& candidate) { return candidate.get() == entry; });
  }

  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
  std::optional<Completion> completion_;
};

std::shared_ptr<XPCConnection>
XPCConnection::create(std::shared_ptr<platform::xpc::Connection> transport, Options options) {
  auto connection =
      std::shared_ptr<XPCConnection>(new XPCConnection(std::move(transport), std::move(options)));
  connection->install();
  return connection;
}

XPCConnection::XPCConnection(std::shared_ptr<platform::xpc::Connection> transport, Options options)
    : options_(std::move(options)), transport_(std::move(transport)),
      requestStream_(std::make_shared<RequestStream>()) {
  ++liveCount_;
  if (options_.verifyPeerIdentity) {
    const auto& peer = transport_->peer();
    platform::security::PeerIdentity identity;
    auto status = peer.pidfd() >= 0
                      ? platform::security::PeerIdentity::record(peer.credentials().pid,
                                                                 peer.pidfd(), identity)
                      : platform::security::SecStatus(platform::security::errSecCSNoSuchCode,
                                                      "the kernel gave no pidfd of the peer");
    if (status.ok()) {
      peerIdentity_ = std::move(identity);
    } else {
      identityFailure_ = status.description();
    }
    transport_->setMaxIncomingPayloadSize(
        std::min(kMaxUnauthenticatedPayloadSize, transport_->configuredMaxPayloadSize()));
  }
}

XPCConnection::~XPCConnection() {
  transport_->invalidate();
  --liveCount_;
}

void XPCConnection::install() {
  std::weak_ptr<XPCConnection> weakSelf = weak_from_this();
  transport_->setInvalidationHandler([weakSelf](const platform::NSError&) {
    if (auto self = weakSelf.lock()) {
      self->connectionEnded();
    }
  });
  transport_->setIncomingCallHandler(
      [weakSelf](platform::xpc::Message message, platform::xpc::Reply reply) {
        if (auto self = weakSelf.lock()) {
          self->receive(std::move(message), std::move(reply));
        }
      });
}

void XPCConnection::connectionEnded() {
  if (ended_.exchange(true)) {
    return;
  }
  XPCConnectionError error(uuid_, XPCConnectionError::Reason::invalidated);
  Logger::error(
      [&] { return description() + " - Interrupted with error: " + error.description(); });
  errors_.send(error);
  errors_.send(Completion::finished());
  requestStream_->complete(Completion::failure(error));
}

void XPCConnection::receive(platform::xpc::Message message, platform::xpc::Reply reply) {
  if (options_.verifyPeerIdentity && !peerIdentity_) {
    // Never reached through the listener, which drops such connections: no frame is served
    // without the identity check.
    transport_->invalidate();
    return;
  }
  if (peerIdentity_) {
    auto status = peerIdentity_->stillSame();
    if (!status.ok()) {
      Logger::error([&] {
        return description() +
               " - Peer is no longer the process that connected: " + status.description();
      });
      transport_->invalidate();
      return;
    }
  }
  auto attachments = std::make_shared<ReplyAttachments::Descriptors>();
  ReplyAttachments::Scope scope(attachments);
  // Descriptors that a peer sends along with a request are not used by any request: close them.
  message.descriptors.clear();
  if (auto request =
          makeRequest(RawRequest{std::move(message.payload), std::move(reply)}, attachments)) {
    requestStream_->deliver(*request);
  }
}

std::optional<XPCRequest>
XPCConnection::makeRequest(RawRequest raw,
                           const std::shared_ptr<ReplyAttachments::Descriptors>& attachments) {
  XPCMessage decoded;
  try {
    decoded = encoder_.decode(raw.message);
  } catch (const std::exception& failure) {
    XPCProtocolError error = XPCProtocolError::from(failure);
    Logger::error([&] {
      std::string text(raw.message.begin(), raw.message.end());
      return "Failed to decode XPC request: " + text + ", error: " + error.description() +
             ", skipping..";
    });
    if (raw.reply) {
      try {
        raw.reply(platform::xpc::Message{encoder_.encode(XPCMessage::errorReply(error)), {}});
      } catch (const std::exception&) {
      }
    }
    return std::nullopt;
  }
  XPCRequest request;
  request.message = std::move(decoded);
  request.needsReply = static_cast<bool>(raw.reply);
  std::weak_ptr<XPCConnection> weakSelf = weak_from_this();
  platform::xpc::Reply reply = std::move(raw.reply);
  request.replyHandler = [weakSelf, reply, attachments](XPCMessage message) {
    auto self = weakSelf.lock();
    if (!self || !reply) {
      return;
    }
    platform::xpc::Message frame;
    try {
      frame.payload = self->encoder_.encode(std::move(message));
    } catch (const std::exception& failure) {
      Logger::error([&] {
        return "Failed to encode XPC reply message, got: " +
               XPCProtocolError::from(failure).description();
      });
      return;
    }
    const uint32_t cap = self->transport_->configuredMaxPayloadSize();
    if (frame.payload.size() > cap) {
      // The transport would refuse the frame and the caller would wait for nothing: it gets an
      // error that names the size instead, and the reply's descriptors are closed.
      const std::string text = "The reply of " + std::to_string(frame.payload.size()) +
                               " bytes exceeds the frame cap of " + std::to_string(cap) + " bytes.";
      Logger::error([&] { return self->description() + " - " + text; });
      attachments->clear();
      frame.payload =
          self->encoder_.encode(XPCMessage::errorReply(XPCProtocolError::underlyingError(text)));
      reply(std::move(frame));
      return;
    }
    frame.descriptors = std::exchange(*attachments, {});
    reply(std::move(frame));
  };
  return request;
}

AnyPublisher<XPCRequest> XPCConnection::requests() {
  auto stream = requestStream_;
  return AnyPublisher<XPCRequest>([stream](std::shared_ptr<Subscriber<XPCRequest>> subscriber) {
    stream->subscribe(subscriber);
  });
}

AnyPublisher<XPCConnectionError> XPCConnection::errors() {
  return errors_.eraseToAnyPublisher();
}

XPCCredentials XPCConnection::credentials() {
  const auto& peer = transport_->peer();
  if (peer.pidfd() < 0) {
    Logger::error([&] { return description() + " - Failed to load audit token"; });
    throw SecurityErrors::credentialsNotAvailable();
  }
  const auto& ids = peer.credentials();
  std::shared_ptr<platform::security::DynamicCode> code;
  auto status = platform::security::DynamicCode::create(
      platform::security::AuditToken{ids.pid, ids.uid, ids.gid}, peer.pidfd(), code);
  if (!status.ok() || !code) {
    throw SecurityErrors::failedToLoadSecurityCodeForClient(status.code());
  }
  return XPCCredentials{std::move(code), description()};
}

platform::dispatch::DispatchQueue XPCConnection::timeoutQueue() {
  std::lock_guard lock(timeoutQueueMutex_);
  if (!timeoutQueue_) {
    timeoutQueue_.emplace("XPCConnection.timeoutQueue." + uuid_.description());
  }
  return *timeoutQueue_;
}

AnyPublisher<XPCMessage> XPCConnection::send(XPCMessage message,
                                             std::chrono::milliseconds timeout) {
  PendingReply::Context context{transport_, encoder_, uuid_, timeoutQueue()};
  return AnyPublisher<XPCMessage>([context = std::move(context), message = std::move(message),
                                   timeout](std::shared_ptr<Subscriber<XPCMessage>> subscriber) {
    auto pending = std::make_shared<PendingReply>(std::move(subscriber));
    pending->start(context, message, timeout);
  });
}

XPCMessage XPCConnection::sendAndWait(XPCMessage message, std::chrono::milliseconds timeout) {
  platform::Bytes bytes = encoder_.encode(message); // throws mailformedTransportMessage
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto frame =
      transport_->sendWithReplyAndWait(platform::xpc::Message{std::move(bytes), {}}, timeout);
  if (!frame) {
    // None: the time ran out, or the connection ended (or refused the frame) first.
    if (transport_->isValid() && std::chrono::steady_clock::now() >= deadline) {
      throw XPCProtocolError::timeout();
    }
    throw XPCConnectionError(uuid_, XPCConnectionError::Reason::invalidated);
  }
  XPCMessage decoded = encoder_.decode(frame->payload);
  decoded.attachments =
      std::make_shared<ReplyAttachments::Descriptors>(std::move(frame->descriptors));
  return decoded;
}

void XPCConnection::sendWithoutReply(const platform::Bytes& bytes) {
  transport_->send(platform::xpc::Message{bytes, {}});
}

void XPCConnection::activate() {
  transport_->activate();
}

void XPCConnection::markHandshaken() {
  handshaken_ = true;
  transport_->setMaxIncomingPayloadSize(transport_->configuredMaxPayloadSize());
}

void XPCConnection::invalidate() {
  transport_->invalidate();
}

ClientIdentity XPCConnection::clientIdentity() const {
  ClientIdentity identity;
  identity.pid = peerProcessIdentifier();
  identity.uid = peerUserIdentifier();
  char target[4096];
  const std::string link = "/proc/" + std::to_string(identity.pid) + "/exe";
  const ssize_t length = ::readlink(link.c_str(), target, sizeof(target));
  if (length > 0) {
    identity.executable.assign(target, static_cast<size_t>(length));
  }
  return identity;
}

} // namespace ipc
