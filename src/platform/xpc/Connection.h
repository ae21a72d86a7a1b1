#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/FrameReader.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/OutgoingFrames.h"
#include "platform/xpc/PeerIdentity.h"
#include "platform/xpc/Reply.h"
#include "platform/xpc/TransportOptions.h"
#include "platform/xpc/UniqueFd.h"
#include "platform/xpc/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform::xpc {

// Who the client accepts as the server.
enum class PeerRequirement {
  any,
  root, // a privileged helper: the listening process must run as uid 0
};

// One end of a transport connection: a stream socket carrying frames both ways. Either side
// may call the other, with or without a reply.
//
// Life: set the handlers, then activate() to start reading. The connection ends once: on
// invalidate(), end of stream, a socket error or a frame that breaks the framing. Ending
// fails every pending call (its reply handler gets none) and then calls the invalidation
// handler, both exactly once and on a pool thread. An active connection is kept alive by the
// pool until it ends; releasing the last reference of one never activated ends it.
//
// Threads: incoming calls, replies and the invalidation handler run on pool threads, several
// at once (also for one connection). Replies read together run one after another on the
// reading thread, so a reply handler should hand its answer on rather than block. Sends may
// come from any thread and never block: a frame the socket cannot take now waits in the
// connection's queue and is written when the socket becomes writable.
//
// Bounds: while more than limits.maxQueuedBytes wait for the peer, or limits.maxCallsInFlight
// of its calls are unanswered, the peer's further calls are left unread; queued bytes that the
// peer does not take within sendTimeout end the connection, as does a buffer that the shared
// budget cannot hold.
class Connection : public std::enable_shared_from_this<Connection>, private EventSource {
public:
  using CallId = uint64_t;
  // An incoming call; `reply` is empty for a call without reply.
  using IncomingCallHandler = std::function<void(Message message, Reply reply)>;
  // The answer to a call, or none when the connection ended (or the call could not be sent).
  using ReplyHandler = std::function<void(std::optional<Message> reply)>;
  using InvalidationHandler = std::function<void(const NSError& reason)>;

  // Connects to the socket of service `serviceName` under "/var/run/".
  static std::shared_ptr<Connection> connectToService(std::string_view serviceName,
                                                      PeerRequirement requirement,
                                                      TransportOptions options, NSError* error);
  // Connects to the socket at `socketPath` (tests use private paths).
  static std::shared_ptr<Connection> connectToPath(const std::string& socketPath,
                                                   PeerRequirement requirement,
                                                   TransportOptions options, NSError* error);
  // Wraps an accepted, connected stream socket.
  static std::shared_ptr<Connection> adopt(UniqueFd socket, TransportOptions options,
                                           NSError* error);

  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The largest payload accepted from the peer from now on (any thread; a larger declared
  // frame ends the connection). Starts at the limits' cap.
  void setMaxIncomingPayloadSize(uint32_t size) { reader_.setMaxPayloadSize(size); }
  // The cap the connection was made with.
  uint32_t configuredMaxPayloadSize() const { return options_.limits.maxPayloadSize; }

  // Handlers are fixed before activate(); setting one later throws std::logic_error.
  void setIncomingCallHandler(IncomingCallHandler handler);
  void setInvalidationHandler(InvalidationHandler handler);

  // Starts reading. Calls sent before are written at once; their replies wait for this.
  void activate();
  // Ends the connection (shuts the socket down); does nothing once ended.
  void invalidate();
  bool isValid() const;
  // Why the connection ended; none while it is valid.
  std::optional<NSError> invalidationReason() const;

  // Sends a call that expects one reply; `handler` is called exactly once, with the reply or
  // with none. Gives the call id, or 0 when the call was refused at once (connection ended,
  // frame over the caps).
  CallId sendWithReply(Message message, ReplyHandler handler);
  // Sends a call and blocks until its reply, or none when the connection ends or `timeout`
  // passes (the call is then forgotten). While no other thread reads the connection, the
  // waiting thread reads it itself, so the reply costs no hand-over between threads; calls
  // that arrive meanwhile still go to the pool. Must not be called before activate().
  std::optional<Message> sendWithReplyAndWait(Message message, std::chrono::milliseconds timeout);
  // Sends a call without reply; false when it could not be queued.
  bool send(Message message);
  // Forgets a pending call (for example after a time-out): its handler is dropped uncalled and
  // a late reply is discarded. False if it was not pending.
  bool cancelReply(CallId callId);

  const PeerIdentity& peer() const { return peer_; }
  const PeerCredentials& peerCredentials() const { return peer_.credentials(); }
  // Whether the peer process that connected is still running (pidfd check, one syscall).
  bool peerIsSameProcess() const { return peer_.isSameProcessAlive(); }

private:
  friend class Reply;
  struct Passkey {};

public:
  Connection(Passkey, UniqueFd socket, PeerIdentity peer, TransportOptions options);

private:
  struct WaitSlot;
  // A call waiting for its reply: the reply handler, and whether a thread blocks on it in
  // sendWithReplyAndWait.
  struct PendingCall {
    ReplyHandler handler;
    bool completesWaiter = false;
  };
  CallId sendCall(Message message, ReplyHandler handler, bool completesWaiter);
  void handleReadiness(uint32_t epollEvents) override;
  // Writes what the socket takes of the queue, unless another thread is writing it: that one
  // takes the frames queued meanwhile too, so that senders never wait for each other's system
  // calls and frames that queue up leave in one gathered write. `io` holds ioMutex_ and is let
  // go during each write. False (and `error`) when writing failed.
  bool writeQueued(std::unique_lock<std::mutex>& io, NSError& error);
  // What the pool should report next: input unless reading is paused or a waiting caller
  // reads, output while frames are queued and no thread is writing them.
  uint32_t wantedEventsLocked() const;
  bool readingPausedLocked() const;
  void armLocked();
  void scheduleStallCheckLocked();
  void checkStall();
  // Counts `frame` (a call) in flight, or keeps it waiting while the cap is reached.
  bool admitCall(ReceivedFrame& frame);
  // An incoming call was answered, or its handler returned without needing an answer.
  void callFinished();
  // Logs `error` and ends the connection with it.
  void fail(const NSError& error);
  static bool isOpen(ReadOutcome outcome);
  ReadOutcome readFrames(std::vector<ReceivedFrame>& frames, NSError& error);
  void endAfter(std::vector<ReceivedFrame> frames, ReadOutcome outcome, NSError error);
  void queueOrderedCalls(std::vector<ReceivedFrame>& frames);
  void deliverFrames(std::vector<ReceivedFrame>& frames, bool runFirstCallHere);
  // One wait and read on the calling thread, if no other thread reads; false if one does.
  bool readAsWaiter(WaitSlot& slot, std::chrono::steady_clock::time_point deadline);
  // Hands the replies that blocked callers wait for to them, and takes those frames out of
  // `frames`. Runs before the reader role is given up, so that a caller who takes the role next
  // and finds its call unanswered knows that its reply has not been read yet.
  void completeWaitingCallers(std::vector<ReceivedFrame>& frames);
  void deliver(ReceivedFrame frame);
  void deliverReply(ReceivedFrame frame);
  // Delivers the queued calls one after another, in the order they arrived.
  void deliverOrderedCalls();
  bool hasOrderedCalls();
  bool sendReply(CallId callId, Message reply);
  bool enqueue(FrameKind kind, CallId callId, Message message, NSError* error);
  bool isSendable(const Message& message, NSError* error) const;
  void failLater(ReplyHandler handler);
  void end(const NSError& reason);
  void log(TransportLogLevel level, const std::string& text) const;

  TransportOptions options_;
  std::shared_ptr<WorkerPool> pool_;
  UniqueFd socket_;
  PeerIdentity peer_;
  // Held by the one thread that reads the socket: a pool thread the socket woke, or a caller
  // waiting for its reply.
  std::mutex readerRole_;
  FrameReader reader_; // used only under readerRole_

  // Guards the outgoing queue and the interest the pool watches for, so that each change of
  // either is followed by one re-arm that sees all of them.
  std::mutex ioMutex_;
  OutgoingFrames outgoing_;
  bool watched_ = false;       // registered with the pool
  bool waiterReads_ = false;   // a caller waiting for its reply reads the socket itself
  bool writing_ = false;       // a thread writes queued frames outside the lock
  bool discardQueued_ = false; // ended while writing: the writer drops the queue when done
  uint32_t armedEvents_ = 0;   // what the last re-arm asked the pool for
  bool stallCheckScheduled_ = false;
  std::chrono::steady_clock::time_point lastWriteProgress_;
  uint32_t callsInFlight_ = 0;
  // Calls read while callsInFlight_ was at the cap, in arrival order; each one runs when an
  // earlier call is finished. Reading pauses while any wait.
  std::deque<ReceivedFrame> waitingCalls_;

  mutable std::mutex stateMutex_;
  bool activated_ = false;
  bool ended_ = false;
  std::optional<NSError> invalidationReason_;
  CallId nextCallId_ = 1;
  std::unordered_map<CallId, PendingCall> pendingReplies_;

  // Calls waiting for in-order delivery (options_.orderedCalls).
  std::mutex orderedMutex_;
  std::deque<ReceivedFrame> orderedCalls_;
  bool deliveringOrderedCalls_ = false;

  // Fixed before activation, then read without a lock.
  IncomingCallHandler incomingCallHandler_;
  InvalidationHandler invalidationHandler_;
};

} // namespace platform::xpc
