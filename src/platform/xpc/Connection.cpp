#include "platform/xpc/Connection.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/xpc/ServiceName.h"
#include "platform/xpc/TransportError.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

namespace platform::xpc {
namespace {

// Reads per wake-up while a frame is still incomplete, so one busy peer yields to the others.
constexpr int kReadsPerWakeup = 16;
// Gathered writes that one sender makes for the frames of others before it leaves the rest to
// the pool, so that threads queuing as fast as the socket drains cannot hold it there.
constexpr int kBatchesPerWriter = 16;

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

std::shared_ptr<BufferBudget> budgetOf(const TransportOptions& options) {
  return options.budget ? options.budget : BufferBudget::shared();
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
  auto peer = PeerIdentity::ofSocket(socket.get(), error);
  if (!peer) {
    return nullptr;
  }
  return std::make_shared<Connection>(Passkey{}, std::move(socket), std::move(*peer),
                                      std::move(options));
}

Connection::Connection(Passkey, UniqueFd socket, PeerIdentity peer, TransportOptions options)
    : options_(std::move(options)), pool_(poolOf(options_)), socket_(std::move(socket)),
      peer_(std::move(peer)), reader_(options_.limits, budgetOf(options_)),
      outgoing_(budgetOf(options_)) {}

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
    return;
  }
  std::lock_guard io(ioMutex_);
  watched_ = true;
  armLocked(); // frames sent before activation may wait for the socket
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
  std::unordered_map<CallId, PendingCall> pending;
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
  {
    std::lock_guard io(ioMutex_);
    watched_ = false;
    // Nobody will read it any more; a thread writing right now drops it when its write ends.
    discardQueued_ = true;
    if (!writing_) {
      outgoing_.clear();
    }
  }
  ::shutdown(socket_.get(), SHUT_RDWR);
  log(TransportLogLevel::info, "Connection ended: " + reason.localizedDescription());
  pool_->dispatch([pending = std::move(pending), handler = std::move(handler), reason]() mutable {
    for (auto& [callId, call] : pending) {
      try {
        call.handler(std::nullopt);
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

void Connection::handleReadiness(uint32_t epollEvents) {
  const bool peerGone = (epollEvents & (EPOLLHUP | EPOLLERR)) != 0;
  const bool mayWrite = (epollEvents & EPOLLOUT) != 0 || peerGone;
  NSError writeError;
  bool writeFailed = false;
  bool paused;
  {
    std::unique_lock io(ioMutex_);
    writeFailed = mayWrite && !writeQueued(io, writeError);
    paused = readingPausedLocked();
  }
  if (writeFailed) {
    fail(writeError);
    return;
  }
  if (paused && peerGone) {
    // Nothing can reach a peer that hung up, and a hung-up socket left watched would wake the
    // pool without end while its calls wait unread.
    end(makeTransportError(TransportErrorCode::peerClosed, "Peer closed the connection."));
    return;
  }
  std::unique_lock role(readerRole_, std::try_to_lock);
  if (paused || !role.owns_lock()) {
    // Paused, or a caller waiting for its reply reads the socket and re-arms when it stops;
    // what is still queued keeps its interest in output.
    if (mayWrite || paused) {
      std::lock_guard io(ioMutex_);
      armLocked();
    }
    return;
  }
  std::vector<ReceivedFrame> frames;
  NSError error;
  const ReadOutcome outcome = readFrames(frames, error);
  completeWaitingCallers(frames);
  if (!isOpen(outcome)) {
    role.unlock();
    endAfter(std::move(frames), outcome, error);
    return;
  }
  queueOrderedCalls(frames);
  // Let another thread read on while this one delivers; the reader is not touched again here.
  role.unlock();
  {
    std::lock_guard io(ioMutex_);
    armLocked();
  }
  deliverFrames(frames, true);
}

bool Connection::writeQueued(std::unique_lock<std::mutex>& io, NSError& error) {
  if (writing_) {
    return true; // the writing thread takes these frames too before it stops
  }
  writing_ = true;
  OutgoingFrames::Batch batch;
  auto outcome = OutgoingFrames::FlushOutcome::drained;
  int batches = 0;
  bool handOff = false;
  while (!discardQueued_ && outgoing_.prepare(batch)) {
    if (++batches > kBatchesPerWriter) {
      handOff = true; // others keep queuing: the pool goes on, this sender goes back to its work
      break;
    }
    io.unlock();
    size_t written = 0;
    outcome = OutgoingFrames::send(socket_.get(), batch, written, &error);
    io.lock();
    if (outcome != OutgoingFrames::FlushOutcome::drained) {
      break;
    }
    outgoing_.consume(written);
    lastWriteProgress_ = std::chrono::steady_clock::now();
  }
  writing_ = false;
  if (discardQueued_) {
    outgoing_.clear();
    return true; // ended meanwhile: a failed write is no news
  }
  if (outcome == OutgoingFrames::FlushOutcome::wouldBlock || handOff) {
    // The socket may be full by now either way: the stall check ends a peer that never reads.
    scheduleStallCheckLocked();
    armLocked(); // the pool writes the rest when the socket has room
  } else if ((wantedEventsLocked() & ~armedEvents_) != 0) {
    // Whoever armed the socket while this thread wrote left out what the write changed: input
    // that the queued bytes paused and that may resume now.
    armLocked();
  }
  return outcome != OutgoingFrames::FlushOutcome::failed;
}

bool Connection::readingPausedLocked() const {
  return outgoing_.bytes() > options_.limits.maxQueuedBytes ||
         callsInFlight_ >= options_.limits.maxCallsInFlight;
}

uint32_t Connection::wantedEventsLocked() const {
  uint32_t events = 0;
  if (!waiterReads_ && !readingPausedLocked()) {
    events |= EPOLLIN | EPOLLRDHUP;
  }
  if (!outgoing_.empty() && !writing_) {
    events |= EPOLLOUT;
  }
  return events;
}

void Connection::armLocked() {
  if (watched_) {
    armedEvents_ = wantedEventsLocked();
    pool_->rearm(*this, armedEvents_);
  }
}

void Connection::scheduleStallCheckLocked() {
  if (stallCheckScheduled_) {
    return;
  }
  stallCheckScheduled_ = true;
  const auto delay = std::max<std::chrono::steady_clock::duration>(
      lastWriteProgress_ + options_.sendTimeout - std::chrono::steady_clock::now(),
      std::chrono::steady_clock::duration::zero());
  dispatch::DispatchQueue::global().asyncAfter(delay, [weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->checkStall();
    }
  });
}

void Connection::checkStall() {
  size_t queued;
  {
    std::lock_guard io(ioMutex_);
    stallCheckScheduled_ = false;
    if (outgoing_.empty()) {
      return;
    }
    if (std::chrono::steady_clock::now() - lastWriteProgress_ < options_.sendTimeout) {
      scheduleStallCheckLocked();
      return;
    }
    queued = outgoing_.bytes();
  }
  fail(makeTransportError(TransportErrorCode::peerNotReading,
                          "Peer stopped reading: " + std::to_string(queued) +
                              " queued bytes found no room for " +
                              std::to_string(options_.sendTimeout.count()) + " ms."));
}

void Connection::fail(const NSError& error) {
  log(TransportLogLevel::error, "Connection failed: " + error.localizedDescription());
  end(error);
}

bool Connection::admitCall(ReceivedFrame& frame) {
  std::lock_guard io(ioMutex_);
  if (waitingCalls_.empty() && callsInFlight_ < options_.limits.maxCallsInFlight) {
    ++callsInFlight_;
    return true;
  }
  waitingCalls_.push_back(std::move(frame));
  return false;
}

void Connection::callFinished() {
  std::optional<ReceivedFrame> next;
  {
    std::lock_guard io(ioMutex_);
    if (!waitingCalls_.empty()) {
      next = std::move(waitingCalls_.front()); // takes over the finished call's place
      waitingCalls_.pop_front();
    } else {
      const bool wasPaused = readingPausedLocked();
      --callsInFlight_;
      if (wasPaused) {
        armLocked();
      }
    }
  }
  if (next) {
    pool_->dispatch([self = shared_from_this(), frame = std::move(*next)]() mutable {
      self->deliver(std::move(frame));
    });
  }
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
    if (frame.header.kind != FrameKind::reply && !admitCall(frame)) {
      continue; // runs when an earlier call is answered
    }
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
    if (!admitCall(frame)) {
      continue; // runs when an earlier call is answered
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
  if (options_.orderedCalls && hasOrderedCalls()) {
    if (runFirstCallHere) {
      deliverOrderedCalls();
    } else {
      pool_->dispatch([self = shared_from_this()] { self->deliverOrderedCalls(); });
    }
  }
}

bool Connection::hasOrderedCalls() {
  // A caller that waits for its reply reads only replies most of the time: it wakes no thread.
  std::lock_guard lock(orderedMutex_);
  return !orderedCalls_.empty();
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
  const CallId callId = sendCall(
      std::move(message),
      [slot](std::optional<Message> reply) { slot->complete(std::move(reply)); }, true);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!slot->isDone()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      if (callId != 0 && cancelReply(callId)) {
        return std::nullopt;
      }
      break; // its handler runs right now: take what it gives
    }
    if (!readAsWaiter(*slot, deadline)) {
      // Another thread reads the socket and hands the reply over.
      std::unique_lock lock(slot->mutex);
      slot->answered.wait_until(lock, deadline, [&] { return slot->done; });
    }
  }
  std::unique_lock lock(slot->mutex);
  slot->answered.wait(lock, [&] { return slot->done; });
  return std::move(slot->reply);
}

bool Connection::readAsWaiter(WaitSlot& slot, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock role(readerRole_, std::try_to_lock);
  if (!role.owns_lock()) {
    return false;
  }
  if (slot.isDone()) {
    return true; // the last reader read the reply and handed it over before letting go
  }
  {
    std::lock_guard lock(stateMutex_);
    if (!activated_ || ended_) {
      return false; // nothing to read for: the reply comes from elsewhere or not at all
    }
  }
  bool wantsOutput;
  {
    // Quiet the pool's reading while this thread waits, so that arriving bytes wake only this
    // thread; queued output stays the pool's to write as well.
    std::lock_guard io(ioMutex_);
    waiterReads_ = true;
    armLocked();
    wantsOutput = !outgoing_.empty() && !writing_;
  }
  const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  pollfd poller{socket_.get(), static_cast<short>(POLLIN | (wantsOutput ? POLLOUT : 0)), 0};
  std::vector<ReceivedFrame> frames;
  NSError error;
  ReadOutcome outcome = ReadOutcome::wouldBlock;
  if (remaining.count() > 0 && ::poll(&poller, 1, static_cast<int>(remaining.count()) + 1) > 0) {
    if ((poller.revents & POLLOUT) != 0) {
      std::unique_lock io(ioMutex_);
      if (!writeQueued(io, error)) {
        outcome = ReadOutcome::failed;
      }
    }
    if (outcome != ReadOutcome::failed && (poller.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      outcome = readFrames(frames, error);
    }
  }
  {
    std::lock_guard io(ioMutex_);
    waiterReads_ = false;
  }
  completeWaitingCallers(frames);
  if (!isOpen(outcome)) {
    role.unlock();
    endAfter(std::move(frames), outcome, error); // fails the waiting call too
    return true;
  }
  queueOrderedCalls(frames);
  // As a pool thread would: hand the reader role back before delivering, so that a handler
  // may wait for a call of its own.
  role.unlock();
  {
    std::lock_guard io(ioMutex_);
    armLocked();
  }
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
    {
      // One at a time already; counted so that answering it balances.
      std::lock_guard io(ioMutex_);
      ++callsInFlight_;
    }
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
  // Counted in flight by the caller: until answered, or until its handler returns.
  Reply reply;
  if (frame.header.kind == FrameKind::callWithReply) {
    auto state = std::make_shared<Reply::State>();
    state->connection = weak_from_this();
    state->callId = frame.header.callId;
    reply = Reply(std::move(state));
  }
  const bool answerLater = static_cast<bool>(reply);
  incomingCallHandler_(Message{std::move(frame.payload), std::move(frame.descriptors)},
                       std::move(reply));
  if (!answerLater) {
    callFinished();
  }
}

void Connection::completeWaitingCallers(std::vector<ReceivedFrame>& frames) {
  // Replies of blocked callers are handed over here; the other frames keep their order.
  size_t kept = 0;
  for (size_t index = 0; index < frames.size(); ++index) {
    ReceivedFrame& frame = frames[index];
    ReplyHandler waiter;
    if (frame.header.kind == FrameKind::reply) {
      std::lock_guard lock(stateMutex_);
      auto found = pendingReplies_.find(frame.header.callId);
      if (found != pendingReplies_.end() && found->second.completesWaiter) {
        waiter = std::move(found->second.handler);
        pendingReplies_.erase(found);
      }
    }
    if (waiter) {
      waiter(Message{std::move(frame.payload), std::move(frame.descriptors)});
    } else if (kept++ != index) {
      frames[kept - 1] = std::move(frame);
    }
  }
  frames.resize(kept);
}

void Connection::deliverReply(ReceivedFrame frame) {
  ReplyHandler handler;
  {
    std::lock_guard lock(stateMutex_);
    auto found = pendingReplies_.find(frame.header.callId);
    if (found != pendingReplies_.end()) {
      handler = std::move(found->second.handler);
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

bool Connection::enqueue(FrameKind kind, CallId callId, Message message, NSError* error) {
  FrameHeader header;
  header.kind = kind;
  header.descriptorCount = static_cast<uint16_t>(message.descriptors.size());
  header.payloadLength = static_cast<uint32_t>(message.payload.size());
  header.callId = callId;
  std::unique_lock io(ioMutex_);
  const bool wasEmpty = outgoing_.empty();
  if (!outgoing_.push(header, std::move(message))) {
    setError(error, makeTransportError(TransportErrorCode::bufferBudgetSpent,
                                       "The buffers of all connections are full; a frame of " +
                                           std::to_string(header.payloadLength) +
                                           " bytes cannot be queued."));
    return false;
  }
  if (!wasEmpty) {
    // Goes out after the frames ahead of it: with them, by the thread writing them now, or
    // when the socket has room again.
    return true;
  }
  lastWriteProgress_ = std::chrono::steady_clock::now(); // the stall clock starts now
  NSError failure;
  if (!writeQueued(io, failure)) {
    setError(error, failure);
    return false;
  }
  return true;
}

void Connection::failLater(ReplyHandler handler) {
  pool_->dispatch([handler = std::move(handler)] { handler(std::nullopt); });
}

Connection::CallId Connection::sendWithReply(Message message, ReplyHandler handler) {
  return sendCall(std::move(message), std::move(handler), false);
}

Connection::CallId Connection::sendCall(Message message, ReplyHandler handler,
                                        bool completesWaiter) {
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
      pendingReplies_.emplace(callId, PendingCall{std::move(handler), completesWaiter});
    }
  }
  if (callId == 0) {
    failLater(std::move(handler));
    return 0;
  }
  if (!enqueue(FrameKind::callWithReply, callId, std::move(message), &error)) {
    fail(error); // fails this call with every other pending one
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
  if (!enqueue(FrameKind::callWithoutReply, 0, std::move(message), &error)) {
    fail(error);
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
  if (!enqueue(FrameKind::reply, callId, std::move(reply), &error)) {
    fail(error);
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

Reply::State::~State() {
  if (used.load()) {
    return;
  }
  if (auto owner = connection.lock()) {
    owner->callFinished(); // dropped unanswered: no longer in flight
  }
}

bool Reply::operator()(Message reply) const {
  if (!state_ || state_->used.exchange(true)) {
    return false;
  }
  auto connection = state_->connection.lock();
  if (!connection) {
    return false;
  }
  const bool sent = connection->sendReply(state_->callId, std::move(reply));
  connection->callFinished();
  return sent;
}

} // namespace platform::xpc
