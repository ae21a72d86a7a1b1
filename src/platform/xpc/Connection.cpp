#include "platform/xpc/Connection.h"

#include "platform/xpc/FrameWriter.h"
#include "platform/xpc/ServiceName.h"
#include "platform/xpc/TransportError.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

namespace platform::xpc {
namespace {

// Reads per wake-up while a frame is still incomplete, so one busy peer yields to the others.
constexpr int kReadsPerWakeup = 16;

bool setSendTimeout(int socket, std::chrono::milliseconds timeout) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value)) == 0;
}

// connect() interrupted by a signal goes on in the background; wait for its outcome.
int connectSocket(int socket, const sockaddr_un& address) {
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    return 0;
  }
  if (errno != EINTR && errno != EINPROGRESS) {
    return errno;
  }
  pollfd poller{socket, POLLOUT, 0};
  while (::poll(&poller, 1, -1) < 0) {
    if (errno != EINTR) {
      return errno;
    }
  }
  int failure = 0;
  socklen_t length = sizeof(failure);
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) {
    return errno;
  }
  return failure;
}

std::shared_ptr<WorkerPool> poolOf(const TransportOptions& options) {
  return options.pool ? options.pool : WorkerPool::shared();
}

} // namespace

std::shared_ptr<Connection> Connection::connectToService(std::string_view serviceName,
                                                         PeerRequirement requirement,
                                                         TransportOptions options, NSError* error) {
  auto path = socketPathForService(serviceName, error);
  if (!path) {
    return nullptr;
  }
  return connectToPath(*path, requirement, std::move(options), error);
}

std::shared_ptr<Connection> Connection::connectToPath(const std::string& socketPath,
                                                      PeerRequirement requirement,
                                                      TransportOptions options, NSError* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) {
    setError(error, makeTransportError(TransportErrorCode::invalidServiceName,
                                       "Socket path is empty or too long.", ENAMETOOLONG));
    return nullptr;
  }
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) {
    setError(error, makeTransportError(TransportErrorCode::ioFailure, "Could not create a socket.",
                                       errno));
    return nullptr;
  }
  if (const int failure = connectSocket(socket.get(), address); failure != 0) {
    setError(error, makeTransportError(TransportErrorCode::ioFailure,
                                       "Could not connect to " + socketPath + ".", failure));
    return nullptr;
  }
  auto connection = adopt(std::move(socket), std::move(options), error);
  if (connection && requirement == PeerRequirement::root &&
      connection->peerCredentials().uid != 0) {
    setError(error,
             makeTransportError(TransportErrorCode::untrustedPeer,
                                "The service at " + socketPath + " does not run as root.", EPERM));
    return nullptr;
  }
  return connection;
}

std::shared_ptr<Connection> Connection::adopt(UniqueFd socket, TransportOptions options,
                                              NSError* error) {
  if (!setSendTimeout(socket.get(), options.sendTimeout)) {
    setError(error, makeTransportError(TransportErrorCode::ioFailure,
                                       "Could not set the send time-out.", errno));
    return nullptr;
  }
  auto peer = PeerIdentity::ofSocket(socket.get(), error);
  if (!peer) {
    return nullptr;
  }
  return std::make_shared<Connection>(Passkey{}, std::move(socket), std::move(*peer),
                                      std::move(options));
}

Connection::Connection(Passkey, UniqueFd socket, PeerIdentity peer, TransportOptions options)
    : options_(std::move(options)), pool_(poolOf(options_)), socket_(std::move(socket)),
      peer_(std::move(peer)), reader_(options_.limits) {}

Connection::~Connection() {
  // Only a connection that the pool no longer watches gets here; anything still pending is
  // failed as if it had been invalidated.
  end(makeTransportError(TransportErrorCode::invalidated, "Connection was released."));
}

void Connection::setIncomingCallHandler(IncomingCallHandler handler) {
  std::lock_guard lock(stateMutex_);
  if (activated_) {
    throw std::logic_error("Connection handlers are fixed once it is activated.");
  }
  incomingCallHandler_ = std::move(handler);
}

void Connection::setInvalidationHandler(InvalidationHandler handler) {
  std::lock_guard lock(stateMutex_);
  if (activated_) {
    throw std::logic_error("Connection handlers are fixed once it is activated.");
  }
  invalidationHandler_ = std::move(handler);
}

void Connection::activate() {
  // Registered under the state lock, so that an end() running at the same time either sees
  // the registration to remove or prevents it.
  std::lock_guard lock(stateMutex_);
  if (activated_ || ended_) {
    return;
  }
  activated_ = true;
  // The pool keeps the connection alive while it watches it (the base is private, hence the
  // aliasing pointer).
  auto self = shared_from_this();
  std::shared_ptr<EventSource> source(self, static_cast<EventSource*>(self.get()));
  NSError error;
  if (!pool_->addSource(socket_.get(), std::move(source), &error)) {
    activated_ = false;
    log(TransportLogLevel::error, "Could not activate: " + error.localizedDescription());
    pool_->dispatch([self] {
      self->end(makeTransportError(TransportErrorCode::ioFailure, "Could not watch the socket."));
    });
  }
}

void Connection::invalidate() {
  end(makeTransportError(TransportErrorCode::invalidated, "Connection was invalidated."));
}

bool Connection::isValid() const {
  std::lock_guard lock(stateMutex_);
  return !ended_;
}

std::optional<NSError> Connection::invalidationReason() const {
  std::lock_guard lock(stateMutex_);
  return invalidationReason_;
}

void Connection::end(const NSError& reason) {
  std::unordered_map<CallId, ReplyHandler> pending;
  InvalidationHandler handler;
  bool watched;
  {
    std::lock_guard lock(stateMutex_);
    if (ended_) {
      return;
    }
    ended_ = true;
    invalidationReason_ = reason;
    pending.swap(pendingReplies_);
    handler = invalidationHandler_;
    watched = activated_;
  }
  ::shutdown(socket_.get(), SHUT_RDWR);
  log(TransportLogLevel::info, "Connection ended: " + reason.localizedDescription());
  pool_->dispatch([pending = std::move(pending), handler = std::move(handler), reason]() mutable {
    for (auto& [callId, replyHandler] : pending) {
      try {
        replyHandler(std::nullopt);
      } catch (...) {
        // One failing handler must not keep the others from hearing of the end.
      }
    }
    if (handler) {
      handler(reason);
    }
  });
  // The pool's reference may be the last one: drop it as the very last step.
  std::shared_ptr<EventSource> registration = watched ? pool_->removeSource(*this) : nullptr;
}

void Connection::handleReadiness(uint32_t) {
  std::unique_lock role(readerRole_, std::try_to_lock);
  if (!role.owns_lock()) {
    return; // a caller waiting for its reply reads the socket; it re-arms when it stops
  }
  std::vector<ReceivedFrame> frames;
  NSError error;
  const ReadOutcome outcome = readFrames(frames, error);
  if (!isOpen(outcome)) {
    role.unlock();
    endAfter(std::move(frames), outcome, error);
    return;
  }
  queueOrderedCalls(frames);
  // Let another thread read on while this one delivers; the reader is not touched again here.
  role.unlock();
  pool_->rearm(*this);
  deliverFrames(frames, true);
}

bool Connection::isOpen(ReadOutcome outcome) {
  return outcome == ReadOutcome::progress || outcome == ReadOutcome::wouldBlock;
}

ReadOutcome Connection::readFrames(std::vector<ReceivedFrame>& frames, NSError& error) {
  ReadOutcome outcome = ReadOutcome::progress;
  for (int attempt = 0; attempt < kReadsPerWakeup && frames.empty(); ++attempt) {
    outcome = reader_.readOnce(socket_.get(), frames, &error);
    if (outcome != ReadOutcome::progress) {
      break;
    }
  }
  return outcome;
}

void Connection::endAfter(std::vector<ReceivedFrame> frames, ReadOutcome outcome, NSError error) {
  // Frames that arrived before the end are still delivered, then the connection ends.
  if (options_.orderedCalls) {
    {
      std::lock_guard lock(orderedMutex_);
      for (ReceivedFrame& frame : frames) {
        orderedCalls_.push_back(std::move(frame));
      }
    }
    frames.clear();
    pool_->dispatch([self = shared_from_this()] { self->deliverOrderedCalls(); });
  }
  for (ReceivedFrame& frame : frames) {
    pool_->dispatch([self = shared_from_this(), frame = std::move(frame)]() mutable {
      self->deliver(std::move(frame));
    });
  }
  if (outcome == ReadOutcome::endOfStream) {
    error = makeTransportError(TransportErrorCode::peerClosed, "Peer closed the connection.");
  } else {
    log(TransportLogLevel::error, "Connection failed: " + error.localizedDescription());
  }
  end(error);
}

void Connection::queueOrderedCalls(std::vector<ReceivedFrame>& frames) {
  if (!options_.orderedCalls) {
    return;
  }
  // Queued before the next reader can run, so the queue holds the calls in wire order.
  std::lock_guard lock(orderedMutex_);
  for (ReceivedFrame& frame : frames) {
    if (frame.header.kind != FrameKind::reply) {
      orderedCalls_.push_back(std::move(frame));
    }
  }
  std::erase_if(frames,
                [](const ReceivedFrame& frame) { return frame.header.kind != FrameKind::reply; });
}

void Connection::deliverFrames(std::vector<ReceivedFrame>& frames, bool runFirstCallHere) {
  // Calls may block, so each one after the first goes to another thread (every one, when this
  // thread must not run calls). Replies only hand the answer to whoever waits for it: they run
  // here, in the order they arrived.
  ReceivedFrame* firstCall = nullptr;
  for (ReceivedFrame& frame : frames) {
    if (frame.header.kind == FrameKind::reply) {
      continue;
    }
    if (firstCall == nullptr && runFirstCallHere) {
      firstCall = &frame;
      continue;
    }
    pool_->dispatch([self = shared_from_this(), frame = std::move(frame)]() mutable {
      self->deliver(std::move(frame));
    });
  }
  for (ReceivedFrame& frame : frames) {
    if (frame.header.kind == FrameKind::reply) {
      deliverReply(std::move(frame));
    }
  }
  if (firstCall != nullptr) {
    deliver(std::move(*firstCall));
  }
  if (options_.orderedCalls) {
    if (runFirstCallHere) {
      deliverOrderedCalls();
    } else {
      pool_->dispatch([self = shared_from_this()] { self->deliverOrderedCalls(); });
    }
  }
}

// The state of one call that a thread waits for.
struct Connection::WaitSlot {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  std::optional<Message> reply;

  void complete(std::optional<Message> value) {
    std::lock_guard lock(mutex);
    reply = std::move(value);
    done = true;
    answered.notify_one();
  }
  bool isDone() {
    std::lock_guard lock(mutex);
    return done;
  }
};

std::optional<Message> Connection::sendWithReplyAndWait(Message message,
                                                        std::chrono::milliseconds timeout) {
  auto slot = std::make_shared<WaitSlot>();
  const CallId callId = sendWithReply(std::move(message), [slot](std::optional<Message> reply) {
    slot->complete(std::move(reply));
  });
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!slot->isDone()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      if (callId != 0 && cancelReply(callId)) {
        return std::nullopt;
      }
      break; // its handler runs right now: take what it gives
    }
    if (!readAsWaiter(deadline)) {
      // Another thread reads the socket and hands the reply over.
      std::unique_lock lock(slot->mutex);
      slot->answered.wait_until(lock, deadline, [&] { return slot->done; });
    }
  }
  std::unique_lock lock(slot->mutex);
  slot->answered.wait(lock, [&] { return slot->done; });
  return std::move(slot->reply);
}

bool Connection::readAsWaiter(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock role(readerRole_, std::try_to_lock);
  if (!role.owns_lock()) {
    return false;
  }
  {
    std::lock_guard lock(stateMutex_);
    if (!activated_ || ended_) {
      return false; // nothing to read for: the reply comes from elsewhere or not at all
    }
  }
  // Quiet the pool while this thread waits, so that arriving bytes wake only this thread.
  pool_->disarm(*this);
  const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  pollfd poller{socket_.get(), POLLIN, 0};
  std::vector<ReceivedFrame> frames;
  NSError error;
  ReadOutcome outcome = ReadOutcome::wouldBlock;
  if (remaining.count() > 0 && ::poll(&poller, 1, static_cast<int>(remaining.count()) + 1) > 0) {
    outcome = readFrames(frames, error);
  }
  if (!isOpen(outcome)) {
    role.unlock();
    endAfter(std::move(frames), outcome, error); // fails the waiting call too
    return true;
  }
  queueOrderedCalls(frames);
  // As a pool thread would: hand the reader role back before delivering, so that a handler
  // may wait for a call of its own.
  role.unlock();
  pool_->rearm(*this);
  deliverFrames(frames, false);
  return true;
}

void Connection::deliverOrderedCalls() {
  std::unique_lock lock(orderedMutex_);
  if (deliveringOrderedCalls_) {
    return; // the thread that is delivering takes the new calls too
  }
  deliveringOrderedCalls_ = true;
  while (!orderedCalls_.empty()) {
    ReceivedFrame frame = std::move(orderedCalls_.front());
    orderedCalls_.pop_front();
    lock.unlock();
    deliver(std::move(frame));
    lock.lock();
  }
  deliveringOrderedCalls_ = false;
}

void Connection::deliver(ReceivedFrame frame) {
  if (frame.header.kind == FrameKind::reply) {
    deliverReply(std::move(frame));
    return;
  }
  if (!incomingCallHandler_) {
    log(TransportLogLevel::error, "Dropped an incoming call: no handler is set.");
    return;
  }
  Reply reply;
  if (frame.header.kind == FrameKind::callWithReply) {
    auto state = std::make_shared<Reply::State>();
    state->connection = weak_from_this();
    state->callId = frame.header.callId;
    reply = Reply(std::move(state));
  }
  incomingCallHandler_(Message{std::move(frame.payload), std::move(frame.descriptors)}, reply);
}

void Connection::deliverReply(ReceivedFrame frame) {
  ReplyHandler handler;
  {
    std::lock_guard lock(stateMutex_);
    auto found = pendingReplies_.find(frame.header.callId);
    if (found != pendingReplies_.end()) {
      handler = std::move(found->second);
      pendingReplies_.erase(found);
    }
  }
  if (!handler) {
    log(TransportLogLevel::error,
        "Dropped a reply for unknown call id " + std::to_string(frame.header.callId) + ".");
    return;
  }
  handler(Message{std::move(frame.payload), std::move(frame.descriptors)});
}

bool Connection::isSendable(const Message& message, NSError* error) const {
  if (message.payload.size() > options_.limits.maxPayloadSize) {
    setError(error, makeTransportError(TransportErrorCode::frameTooLarge,
                                       "Message exceeds the frame size cap."));
    return false;
  }
  if (message.descriptors.size() > options_.limits.maxDescriptors) {
    setError(error, makeTransportError(TransportErrorCode::tooManyDescriptors,
                                       "Message carries too many descriptors."));
    return false;
  }
  return true;
}

bool Connection::writeMessage(FrameKind kind, CallId callId, const Message& message,
                              NSError* error) {
  FrameHeader header;
  header.kind = kind;
  header.descriptorCount = static_cast<uint16_t>(message.descriptors.size());
  header.payloadLength = static_cast<uint32_t>(message.payload.size());
  header.callId = callId;
  std::vector<int> descriptors;
  descriptors.reserve(message.descriptors.size());
  for (const UniqueFd& descriptor : message.descriptors) {
    descriptors.push_back(descriptor.get());
  }
  std::lock_guard lock(writeMutex_);
  return writeFrame(socket_.get(), header, message.payload, descriptors, error);
}

void Connection::failLater(ReplyHandler handler) {
  pool_->dispatch([handler = std::move(handler)] { handler(std::nullopt); });
}

Connection::CallId Connection::sendWithReply(Message message, ReplyHandler handler) {
  NSError error;
  if (!isSendable(message, &error)) {
    log(TransportLogLevel::error, "Refused a call: " + error.localizedDescription());
    failLater(std::move(handler));
    return 0;
  }
  CallId callId;
  {
    std::lock_guard lock(stateMutex_);
    if (ended_) {
      callId = 0;
    } else {
      callId = nextCallId_++;
      pendingReplies_.emplace(callId, std::move(handler));
    }
  }
  if (callId == 0) {
    failLater(std::move(handler));
    return 0;
  }
  if (!writeMessage(FrameKind::callWithReply, callId, message, &error)) {
    end(error); // fails this call with every other pending one
  }
  return callId;
}

bool Connection::send(Message message) {
  NSError error;
  if (!isSendable(message, &error)) {
    log(TransportLogLevel::error, "Refused a call: " + error.localizedDescription());
    return false;
  }
  if (!isValid()) {
    return false;
  }
  if (!writeMessage(FrameKind::callWithoutReply, 0, message, &error)) {
    end(error);
    return false;
  }
  return true;
}

bool Connection::sendReply(CallId callId, Message reply) {
  NSError error;
  if (!isSendable(reply, &error)) {
    log(TransportLogLevel::error, "Refused a reply: " + error.localizedDescription());
    return false;
  }
  if (!isValid()) {
    return false;
  }
  if (!writeMessage(FrameKind::reply, callId, reply, &error)) {
    end(error);
    return false;
  }
  return true;
}

bool Connection::cancelReply(CallId callId) {
  std::lock_guard lock(stateMutex_);
  return pendingReplies_.erase(callId) > 0;
}

void Connection::log(TransportLogLevel level, const std::string& text) const {
  if (options_.logger) {
    options_.logger(level, "Transport (peer pid " + std::to_string(peer_.credentials().pid) +
                               "): " + text);
  }
}

bool Reply::operator()(Message reply) const {
  if (!state_ || state_->used.exchange(true)) {
    return false;
  }
  auto connection = state_->connection.lock();
  return connection && connection->sendReply(state_->callId, std::move(reply));
}

} // namespace platform::xpc
