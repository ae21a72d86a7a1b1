#include "platform/xpc/Connection.h"
#include "platform/xpc/FrameReader.h"
#include "platform/xpc/Listener.h"
#include "platform/xpc/ServiceName.h"
#include "platform/xpc/TransportError.h"
#include "platform/xpc/TransportTestSupport.h"

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/stat.h>
#include <sys/wait.h>

namespace platform::xpc {
namespace {

using namespace std::chrono_literals;
using test::bytesOf;
using test::frameBytes;
using test::Signal;
using test::textOf;

using ServerHandler = std::function<void(const std::shared_ptr<Connection>&, Message, Reply)>;

// A listener in a private directory with its own small pool; the server side echoes unless a
// test installs another handler before connecting.
class TransportTest : public ::testing::Test {
protected:
  void SetUp() override {
    options.pool = WorkerPool::create({512, 50ms});
    options.limits.maxPayloadSize = 1 << 20;
    options.logger = [this](TransportLogLevel, const std::string& text) {
      std::lock_guard lock(mutex);
      logLines.push_back(text);
    };
    listener = std::make_unique<Listener>(directory.file("service"), options);
    listener->setConnectionHandler([this](std::shared_ptr<Connection> connection) {
      std::weak_ptr<Connection> weak = connection;
      connection->setIncomingCallHandler([this, weak](Message message, Reply reply) {
        serverHandler(weak.lock(), std::move(message), reply);
      });
      connection->setInvalidationHandler([this](const NSError&) { serverEnded.fire(); });
      connection->activate();
      if (keepServerConnections) {
        std::lock_guard lock(mutex);
        serverConnections.push_back(connection);
      }
      accepted.fire();
    });
    NSError error;
    ASSERT_TRUE(listener->activate(&error)) << error.localizedDescription();
  }

  void TearDown() override {
    std::vector<std::shared_ptr<Connection>> connections;
    {
      std::lock_guard lock(mutex);
      connections.swap(serverConnections);
    }
    for (auto& connection : connections) {
      connection->invalidate();
    }
    listener->invalidate();
    // Handlers capture this fixture: let every one of them finish before it goes.
    EXPECT_TRUE(test::waitUntil([&] { return options.pool->sourceCount() == 0; }));
    EXPECT_TRUE(test::waitUntil([&] { return options.pool->isQuiescentForTest(); }));
  }

  std::shared_ptr<Connection> connect(Connection::IncomingCallHandler handler = nullptr) {
    NSError error;
    auto connection =
        Connection::connectToPath(listener->socketPath(), PeerRequirement::any, options, &error);
    EXPECT_TRUE(connection) << error.localizedDescription();
    if (connection) {
      connection->setIncomingCallHandler(std::move(handler));
      connection->activate();
    }
    return connection;
  }

  // A client that takes the server's calls one at a time, in wire order; not yet activated, so
  // that the test sets its handler first.
  std::shared_ptr<Connection> connectOrdered() {
    TransportOptions ordered = options;
    ordered.orderedCalls = true;
    NSError error;
    auto connection =
        Connection::connectToPath(listener->socketPath(), PeerRequirement::any, ordered, &error);
    EXPECT_TRUE(connection) << error.localizedDescription();
    return connection;
  }

  // Sends a call and waits for its outcome: the reply text, or "<none>".
  static std::string call(Connection& connection, const std::string& text,
                          std::vector<UniqueFd> descriptors = {}) {
    auto outcome = std::make_shared<std::promise<std::string>>();
    auto future = outcome->get_future();
    connection.sendWithReply(Message{bytesOf(text), std::move(descriptors)},
                             [outcome](std::optional<Message> reply) {
                               outcome->set_value(reply ? textOf(reply->payload) : "<none>");
                             });
    if (future.wait_for(5s) != std::future_status::ready) {
      return "<timeout>";
    }
    return future.get();
  }

  bool logged(const std::string& text) {
    std::lock_guard lock(mutex);
    for (const auto& line : logLines) {
      if (line.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  std::shared_ptr<Connection> serverConnection(size_t index) {
    std::lock_guard lock(mutex);
    return index < serverConnections.size() ? serverConnections[index] : nullptr;
  }

  test::TempDirectory directory;
  TransportOptions options;
  std::unique_ptr<Listener> listener;
  ServerHandler serverHandler = [](const std::shared_ptr<Connection>&, Message message,
                                   Reply reply) {
    if (reply) {
      reply(std::move(message));
    }
  };
  bool keepServerConnections = true;
  Signal accepted;
  Signal serverEnded;
  std::mutex mutex;
  std::vector<std::string> logLines;
  std::vector<std::shared_ptr<Connection>> serverConnections;
};

TEST_F(TransportTest, CallsTravelBothWays) {
  Signal oneWay;
  serverHandler = [&](const std::shared_ptr<Connection>& connection, Message message, Reply reply) {
    if (!reply) {
      EXPECT_EQ("one way", textOf(message.payload));
      oneWay.fire();
      return;
    }
    // While the client waits, the server calls the client and answers with its answer.
    reply(Message{bytesOf(textOf(message.payload) + "/" + call(*connection, "ask client")), {}});
  };
  auto client = connect([](Message message, Reply reply) {
    reply(Message{bytesOf("client heard " + textOf(message.payload)), {}});
  });
  EXPECT_EQ("ping/client heard ask client", call(*client, "ping"));
  EXPECT_TRUE(client->send(Message{bytesOf("one way"), {}}));
  EXPECT_TRUE(oneWay.waitFor());
}

TEST_F(TransportTest, AWaitingCallerGetsItsOwnReplyWhileOtherTrafficFlows) {
  serverHandler = [](const std::shared_ptr<Connection>& connection, Message message, Reply reply) {
    const std::string text = textOf(message.payload);
    if (text == "silence") {
      return; // never answered
    }
    if (text == "hang up") {
      connection->invalidate();
      return;
    }
    // Call the client back while it waits: its waiting thread must pass the call on.
    const std::string heard = call(*connection, "callback");
    reply(Message{bytesOf(text + "/" + heard), {}});
  };
  auto client = connect([](Message message, Reply reply) { reply(std::move(message)); });
  std::vector<std::thread> callers;
  std::atomic<int> correct{0};
  for (int index = 0; index < 8; ++index) {
    callers.emplace_back([&, index] {
      for (int round = 0; round < 20; ++round) {
        const std::string text = std::to_string(index) + "." + std::to_string(round);
        auto reply = client->sendWithReplyAndWait(Message{bytesOf(text), {}}, 5s);
        correct += reply && textOf(reply->payload) == text + "/callback";
      }
    });
  }
  for (auto& caller : callers) {
    caller.join();
  }
  EXPECT_EQ(160, correct.load());
  // Unanswered: none after the time limit, and the call is forgotten.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->sendWithReplyAndWait(Message{bytesOf("silence"), {}}, 50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  // A longer wait ends near its deadline too.
  const auto longer = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->sendWithReplyAndWait(Message{bytesOf("silence"), {}}, 350ms));
  EXPECT_GE(std::chrono::steady_clock::now() - longer, 350ms);
  EXPECT_LT(std::chrono::steady_clock::now() - longer, 2s);
  // Invalidating the connection wakes a caller waiting in its read at once.
  std::thread invalidating([&] {
    std::this_thread::sleep_for(100ms);
    client->invalidate();
  });
  const auto blocked = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->sendWithReplyAndWait(Message{bytesOf("silence"), {}}, 30s));
  EXPECT_LT(std::chrono::steady_clock::now() - blocked, 5s);
  invalidating.join();
  client = connect([](Message message, Reply reply) { reply(std::move(message)); });
  // The peer goes away while the caller waits: none, and the connection has ended.
  EXPECT_FALSE(client->sendWithReplyAndWait(Message{bytesOf("hang up"), {}}, 5s));
  EXPECT_TRUE(test::waitUntil([&] { return !client->isValid(); }));
  EXPECT_FALSE(client->sendWithReplyAndWait(Message{bytesOf("late"), {}}, 5s));
}

// A reply that one reader has taken off the socket but not yet handed over must not leave its
// caller polling a socket with nothing more to come until its time runs out. Callers on their
// own connections, more than there are processors, so that a pool thread sometimes reads a
// reply its caller was about to read.
TEST_F(TransportTest, AWaitingCallerNeverPollsForAReplyAlreadyRead) {
  constexpr int kCallers = 16;
  constexpr int kCalls = 2000;
  std::vector<std::shared_ptr<Connection>> clients;
  for (int index = 0; index < kCallers; ++index) {
    clients.push_back(connect());
  }
  std::vector<std::thread> callers;
  std::atomic<int> answered{0};
  std::atomic<int64_t> slowestMs{0};
  for (const auto& client : clients) {
    callers.emplace_back([&answered, &slowestMs, client] {
      for (int round = 0; round < kCalls; ++round) {
        const auto start = std::chrono::steady_clock::now();
        // A stalled caller polls until this limit, then finds the reply handed over meanwhile.
        answered += client->sendWithReplyAndWait(Message{bytesOf("ping"), {}}, 10s).has_value();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        int64_t seen = slowestMs.load();
        while (took.count() > seen && !slowestMs.compare_exchange_weak(seen, took.count())) {
        }
      }
    });
  }
  for (auto& caller : callers) {
    caller.join();
  }
  EXPECT_EQ(kCallers * kCalls, answered.load());
  EXPECT_LT(slowestMs.load(), 5000);
}

TEST_F(TransportTest, AReplyIsSentAtMostOnce) {
  std::atomic<int> secondAnswers{0};
  Signal triedAgain;
  serverHandler = [&](const std::shared_ptr<Connection>&, Message message, Reply reply) {
    if (textOf(message.payload) != "x") {
      reply(std::move(message));
      return;
    }
    const Reply copy = reply;
    EXPECT_TRUE(reply(Message{bytesOf("first"), {}}));
    secondAnswers += copy(Message{bytesOf("second"), {}});
    secondAnswers += reply(Message{bytesOf("third"), {}});
    triedAgain.fire();
  };
  auto client = connect();
  std::atomic<int> replies{0};
  Signal answered;
  client->sendWithReply(Message{bytesOf("x"), {}}, [&](std::optional<Message> reply) {
    EXPECT_EQ("first", reply ? textOf(reply->payload) : "<none>");
    ++replies;
    answered.fire();
  });
  ASSERT_TRUE(answered.waitFor());
  ASSERT_TRUE(triedAgain.waitFor());
  EXPECT_EQ("later", call(*client, "later")); // no stray reply frame reached the client
  EXPECT_EQ(1, replies.load());
  EXPECT_EQ(0, secondAnswers.load());
  EXPECT_FALSE(logged("unknown call id"));
}

TEST_F(TransportTest, CallsOfOneConnectionRunAtOnceAndASlowHandlerStallsNobody) {
  std::atomic<int> running{0};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  serverHandler = [&](const std::shared_ptr<Connection>&, Message message, Reply reply) {
    if (textOf(message.payload) == "block") {
      ++running;
      released.wait();
    }
    reply(std::move(message));
  };
  auto slow = connect();
  std::vector<std::future<std::string>> blocked;
  for (int index = 0; index < 4; ++index) {
    blocked.push_back(std::async(std::launch::async, [&] { return call(*slow, "block"); }));
  }
  EXPECT_TRUE(test::waitUntil([&] { return running.load() == 4; }));
  EXPECT_EQ("quick", call(*slow, "quick"));
  auto other = connect();
  EXPECT_EQ("other", call(*other, "other"));
  release.set_value();
  for (auto& answer : blocked) {
    EXPECT_EQ("block", answer.get());
  }
}

TEST_F(TransportTest, OrderedCallsRunOneAtATimeInWireOrder) {
  // The server pushes a stream of calls; a client that asks for order sees them in sequence.
  serverHandler = [](const std::shared_ptr<Connection>& connection, Message, Reply reply) {
    for (int index = 0; index < 50; ++index) {
      connection->send(Message{bytesOf(std::to_string(index)), {}});
    }
    reply(Message{bytesOf("pushed"), {}});
  };
  auto client = connectOrdered();
  ASSERT_TRUE(client);
  std::mutex seenMutex;
  std::vector<int> seen;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  client->setIncomingCallHandler([&](Message message, Reply) {
    overlapped = overlapped || ++running > 1;
    std::this_thread::sleep_for(100us);
    {
      std::lock_guard lock(seenMutex);
      seen.push_back(std::stoi(textOf(message.payload)));
    }
    --running;
  });
  client->activate();
  EXPECT_EQ("pushed", call(*client, "push"));
  EXPECT_TRUE(test::waitUntil([&] {
    std::lock_guard lock(seenMutex);
    return seen.size() == 50;
  }));
  std::vector<int> expected(50);
  std::iota(expected.begin(), expected.end(), 0);
  std::lock_guard lock(seenMutex);
  EXPECT_EQ(expected, seen);
  EXPECT_FALSE(overlapped.load());
}

// Threads that send on one connection at once share its writes (whoever writes takes the
// frames queued meanwhile): every frame arrives once, each thread's in the order it sent them,
// and descriptors with exactly the frames that carried them.
TEST_F(TransportTest, SendersOnOneConnectionKeepTheirOrderAndTheirDescriptors) {
  constexpr int kSenders = 8;
  constexpr int kFrames = 300;
  const std::string file = directory.file("attached.txt");
  std::ofstream(file) << "attached";
  serverHandler = [&](const std::shared_ptr<Connection>& connection, Message, Reply reply) {
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
      senders.emplace_back([&, sender] {
        for (int index = 0; index < kFrames; ++index) {
          std::vector<UniqueFd> attached;
          if (index % 10 == 0) {
            attached.emplace_back(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
          }
          const std::string text = std::to_string(sender) + ":" + std::to_string(index);
          connection->send(Message{bytesOf(text), std::move(attached)});
        }
      });
    }
    for (auto& sender : senders) {
      sender.join();
    }
    reply(Message{bytesOf("pushed"), {}});
  };
  auto client = connectOrdered();
  ASSERT_TRUE(client);
  std::mutex seenMutex;
  std::vector<int> next(kSenders, 0);
  int received = 0;
  int misplaced = 0;
  client->setIncomingCallHandler([&](Message message, Reply) {
    const std::string text = textOf(message.payload);
    const int sender = std::stoi(text.substr(0, text.find(':')));
    const int index = std::stoi(text.substr(text.find(':') + 1));
    const size_t expectedDescriptors = index % 10 == 0 ? 1 : 0;
    std::lock_guard lock(seenMutex);
    misplaced += index != next[sender] || message.descriptors.size() != expectedDescriptors;
    next[sender] = index + 1;
    ++received;
  });
  client->activate();
  EXPECT_EQ("pushed", call(*client, "push"));
  EXPECT_TRUE(test::waitUntil([&] {
    std::lock_guard lock(seenMutex);
    return received == kSenders * kFrames;
  }));
  std::lock_guard lock(seenMutex);
  EXPECT_EQ(0, misplaced);
}

TEST_F(TransportTest, PeerCredentialsNameTheConnectedProcess) {
  auto client = connect();
  ASSERT_TRUE(accepted.waitFor());
  for (const auto& connection : {client, serverConnection(0)}) {
    EXPECT_EQ(::getpid(), connection->peerCredentials().pid);
    EXPECT_EQ(::geteuid(), connection->peerCredentials().uid);
    EXPECT_EQ(::getegid(), connection->peerCredentials().gid);
    EXPECT_GE(connection->peer().pidfd(), 0);
    EXPECT_TRUE(connection->peerIsSameProcess());
  }
  // A peer that exits is no longer the same process, even while its socket lingers.
  const pid_t child = ::fork();
  if (child == 0) {
    UniqueFd socket = test::rawConnect(listener->socketPath());
    char byte;
    ::read(socket.get(), &byte, 1); // until the parent has looked at the connection
    ::_exit(0);
  }
  ASSERT_TRUE(accepted.waitFor(2));
  auto fromChild = serverConnection(1);
  EXPECT_EQ(child, fromChild->peerCredentials().pid);
  EXPECT_TRUE(fromChild->peerIsSameProcess());
  fromChild->send(Message{bytesOf("bye"), {}});
  int status;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_FALSE(fromChild->peerIsSameProcess());
}

TEST_F(TransportTest, APrivilegedHelperMustRunAsRoot) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to run a server as another user";
  }
  NSError error;
  EXPECT_TRUE(
      Connection::connectToPath(listener->socketPath(), PeerRequirement::root, options, &error));
  // A server that runs as nobody is refused.
  ::chmod(directory.path().c_str(), 0777);
  const std::string path = directory.file("unprivileged");
  int ready[2];
  ASSERT_EQ(0, ::pipe2(ready, O_CLOEXEC));
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(1);
    }
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(server, 1) != 0) {
      ::_exit(2);
    }
    ::write(ready[1], "r", 1);
    const int client = ::accept(server, nullptr, nullptr);
    char byte;
    ::read(client, &byte, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  ::close(ready[0]);
  // Held open so that the server stays up; any peer is fine without the requirement.
  auto unchecked = Connection::connectToPath(path, PeerRequirement::any, options, &error);
  EXPECT_TRUE(unchecked) << error.localizedDescription();
  EXPECT_FALSE(Connection::connectToPath(path, PeerRequirement::root, options, &error));
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::untrustedPeer), error.code());
  unchecked.reset();
  int status;
  ::waitpid(child, &status, 0);
}

TEST_F(TransportTest, GarbageOversizedFramesAndStrayDescriptorsEndOnlyThatConnection) {
  auto client = connect();
  UniqueFd garbage = test::rawConnect(listener->socketPath());
  ASSERT_TRUE(test::writeAll(garbage.get(), bytesOf("\x16\x03\x01 hello, this is not a frame")));
  EXPECT_TRUE(test::peerClosesWithin(garbage.get()));
  EXPECT_TRUE(logged("Frame has a wrong magic."));

  UniqueFd oversized = test::rawConnect(listener->socketPath());
  auto header = frameBytes(FrameKind::callWithReply, 1, "");
  header[8] = 1, header[10] = 0x10; // (1 MiB + 1) bytes declared
  ASSERT_TRUE(test::writeAll(oversized.get(), header));
  EXPECT_TRUE(test::peerClosesWithin(oversized.get()));
  EXPECT_TRUE(logged("exceeds the cap of 1048576"));

  UniqueFd stray = test::rawConnect(listener->socketPath());
  UniqueFd file(::open("/proc/self/stat", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(test::sendWithDescriptors(
      stray.get(), frameBytes(FrameKind::callWithoutReply, 0, "x"), {file.get()}));
  EXPECT_TRUE(test::peerClosesWithin(stray.get()));

  EXPECT_EQ("still served", call(*client, "still served"));
  // Our own frames respect the caps too: refused at once, the handler hears none.
  EXPECT_EQ("<none>", call(*client, std::string((1 << 20) + 1, 'x')));
  EXPECT_TRUE(client->isValid());
}

TEST_F(TransportTest, APartialFrameThenSilenceBlocksNobody) {
  Signal oneWay;
  serverHandler = [&](const std::shared_ptr<Connection>&, Message message, Reply reply) {
    if (!reply) {
      EXPECT_EQ("finally", textOf(message.payload));
      oneWay.fire();
      return;
    }
    reply(std::move(message));
  };
  UniqueFd silent = test::rawConnect(listener->socketPath());
  const auto frame = frameBytes(FrameKind::callWithoutReply, 0, "finally");
  ASSERT_TRUE(test::writeAll(silent.get(), {frame.begin(), frame.begin() + 10}));
  auto client = connect();
  EXPECT_EQ("meanwhile", call(*client, "meanwhile"));
  EXPECT_EQ(0, oneWay.count());
  ASSERT_TRUE(test::writeAll(silent.get(), {frame.begin() + 10, frame.end()}));
  EXPECT_TRUE(oneWay.waitFor());
}

// Sends `count` calls with reply on a raw socket from a thread of its own; the writes block
// while the server leaves them unread.
std::thread sendCalls(int socket, int count, const std::string& text) {
  return std::thread([socket, count, text] {
    std::vector<uint8_t> burst;
    for (int index = 1; index <= count; ++index) {
      const auto frame = frameBytes(FrameKind::callWithReply, static_cast<uint64_t>(index), text);
      burst.insert(burst.end(), frame.begin(), frame.end());
    }
    test::writeAll(socket, burst);
  });
}

TEST_F(TransportTest, APeerThatDoesNotReadHoldsBytesNotThreadsAndLosesNoReply) {
  options.pool = WorkerPool::create({512, 50ms});
  options.limits.maxQueuedBytes = 4096;
  listener = std::make_unique<Listener>(directory.file("quiet"), options);
  std::atomic<int> handled{0};
  listener->setConnectionHandler([&](std::shared_ptr<Connection> connection) {
    connection->setIncomingCallHandler([&](Message message, Reply reply) {
      ++handled;
      reply(std::move(message));
    });
    connection->activate();
    std::lock_guard lock(mutex);
    serverConnections.push_back(connection);
  });
  NSError error;
  ASSERT_TRUE(listener->activate(&error));

  constexpr int kCalls = 20'000;
  UniqueFd deaf = test::rawConnect(listener->socketPath());
  std::thread sending = sendCalls(deaf.get(), kCalls, "health");
  // The server stops reading once the replies pile up, instead of blocking threads on them.
  int settled = -1;
  EXPECT_TRUE(test::waitUntil([&] {
    const int now = handled.load();
    const bool still = now == settled;
    settled = now;
    std::this_thread::sleep_for(100ms);
    return still && now > 0;
  }));
  EXPECT_LT(settled, kCalls);
  EXPECT_LT(options.pool->threadCount(), 8u);
  auto client = connect();
  EXPECT_EQ("meanwhile", call(*client, "meanwhile"));

  // Once the peer reads, every call is answered, in full.
  FrameReader reader{TransportLimits{}};
  std::vector<ReceivedFrame> replies;
  // A loaded machine may leave a gap between replies longer than one wait; only an end or an
  // error of the stream, or no reply for the whole deadline, fails.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (replies.size() < kCalls && std::chrono::steady_clock::now() < deadline) {
    test::waitReadable(deaf.get());
    const ReadOutcome outcome = reader.readOnce(deaf.get(), replies, nullptr);
    ASSERT_TRUE(outcome == ReadOutcome::progress || outcome == ReadOutcome::wouldBlock);
  }
  ASSERT_EQ(static_cast<size_t>(kCalls), replies.size());
  sending.join();
  EXPECT_EQ(kCalls + 1, handled.load()); // and the call made meanwhile
  EXPECT_EQ("health", textOf(replies.back().payload));
}

TEST_F(TransportTest, QueuedRepliesThePeerNeverTakesEndItsConnectionAfterTheSendTimeout) {
  options.sendTimeout = 300ms;
  listener = std::make_unique<Listener>(directory.file("stalled"), options);
  Signal ended;
  listener->setConnectionHandler([&](std::shared_ptr<Connection> connection) {
    connection->setIncomingCallHandler([](Message message, Reply reply) {
      message.payload.resize(256 * 1024);
      reply(std::move(message));
    });
    connection->setInvalidationHandler([&](const NSError& reason) {
      EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::peerNotReading), reason.code());
      ended.fire();
    });
    connection->activate();
    std::lock_guard lock(mutex);
    serverConnections.push_back(connection);
  });
  NSError error;
  ASSERT_TRUE(listener->activate(&error));
  UniqueFd deaf = test::rawConnect(listener->socketPath());
  std::thread sending = sendCalls(deaf.get(), 64, "big");
  EXPECT_TRUE(ended.waitFor());
  EXPECT_TRUE(logged("Peer stopped reading"));
  EXPECT_EQ(0u, BufferBudget::shared()->used());
  ::shutdown(deaf.get(), SHUT_RDWR);
  sending.join();
}

TEST_F(TransportTest, CallsBeyondTheInFlightCapWaitUnreadUntilOneIsAnswered) {
  options.limits.maxCallsInFlight = 4;
  listener = std::make_unique<Listener>(directory.file("capped"), options);
  std::vector<Reply> held;
  listener->setConnectionHandler([&](std::shared_ptr<Connection> connection) {
    connection->setIncomingCallHandler([&](Message, Reply reply) {
      std::lock_guard lock(mutex);
      held.push_back(std::move(reply));
    });
    connection->activate();
    std::lock_guard lock(mutex);
    serverConnections.push_back(connection);
  });
  NSError error;
  ASSERT_TRUE(listener->activate(&error));
  auto heldCount = [&] {
    std::lock_guard lock(mutex);
    return held.size();
  };
  auto client = connect();
  std::atomic<int> answered{0};
  for (int index = 0; index < 10; ++index) {
    client->sendWithReply(Message{bytesOf("wait"), {}},
                          [&](std::optional<Message> reply) { answered += reply ? 1 : 0; });
  }
  EXPECT_TRUE(test::waitUntil([&] { return heldCount() == 4; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(4u, heldCount());
  // Answering one call, or dropping it unanswered, lets the next one in.
  {
    std::lock_guard lock(mutex);
    held[0](Message{bytesOf("done"), {}});
    held[1] = Reply();
  }
  EXPECT_TRUE(test::waitUntil([&] { return heldCount() == 6; }));
  EXPECT_TRUE(test::waitUntil([&] {
    std::vector<Reply> answering;
    {
      std::lock_guard lock(mutex);
      answering = held;
    }
    for (auto& reply : answering) {
      reply(Message{bytesOf("done"), {}});
    }
    return heldCount() == 10 && answered.load() == 9;
  }));
}

TEST_F(TransportTest, AReplyForAnUnknownCallIsDroppedAndLogged) {
  UniqueFd raw = test::rawConnect(listener->socketPath());
  ASSERT_TRUE(test::writeAll(raw.get(), frameBytes(FrameKind::reply, 4242, "stray")));
  ASSERT_TRUE(test::writeAll(raw.get(), frameBytes(FrameKind::callWithReply, 1, "echo me")));
  // The connection lives on: the call is answered with a reply echoing call id 1.
  const auto expected = frameBytes(FrameKind::reply, 1, "echo me");
  std::vector<uint8_t> answer(expected.size());
  size_t received = 0;
  while (received < answer.size()) {
    const ssize_t got = ::recv(raw.get(), answer.data() + received, answer.size() - received, 0);
    ASSERT_GT(got, 0);
    received += static_cast<size_t>(got);
  }
  EXPECT_EQ(expected, answer);
  EXPECT_TRUE(test::waitUntil([&] { return logged("Dropped a reply for unknown call id 4242."); }));
}

TEST_F(TransportTest, EndingAConnectionFailsEachPendingCallOnce) {
  serverHandler = [](const std::shared_ptr<Connection>& connection, Message, Reply) {
    connection->invalidate(); // the server goes away mid-call
  };
  auto client = connect();
  Signal invalidated;
  EXPECT_EQ("<none>", call(*client, "hang"));
  EXPECT_TRUE(test::waitUntil([&] { return !client->isValid(); }));
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::peerClosed),
            client->invalidationReason()->code());
  // A call on an ended connection fails at once, exactly once.
  std::atomic<int> failures{0};
  EXPECT_EQ(0u,
            client->sendWithReply(Message{bytesOf("late"), {}}, [&](std::optional<Message> reply) {
              failures += !reply;
              invalidated.fire();
            }));
  EXPECT_TRUE(invalidated.waitFor());
  EXPECT_FALSE(client->send(Message{bytesOf("late"), {}}));
  EXPECT_EQ(1, failures.load());
}

TEST_F(TransportTest, LocalInvalidationFailsPendingCallsThenNotifiesOnce) {
  serverHandler = [](const std::shared_ptr<Connection>&, Message, Reply) {}; // never answers
  NSError error;
  auto client =
      Connection::connectToPath(listener->socketPath(), PeerRequirement::any, options, &error);
  std::mutex order;
  std::vector<std::string> events;
  client->setInvalidationHandler([&](const NSError& reason) {
    std::lock_guard lock(order);
    events.push_back("invalidated " + std::to_string(reason.code()));
  });
  client->activate();
  EXPECT_THROW(client->setInvalidationHandler(nullptr), std::logic_error);
  for (int index = 0; index < 3; ++index) {
    client->sendWithReply(Message{bytesOf("wait"), {}}, [&](std::optional<Message> reply) {
      std::lock_guard lock(order);
      events.push_back(reply ? "reply" : "failed");
    });
  }
  const auto cancelled = client->sendWithReply(Message{bytesOf("cancel me"), {}},
                                               [&](std::optional<Message>) { ADD_FAILURE(); });
  EXPECT_TRUE(client->cancelReply(cancelled));
  EXPECT_FALSE(client->cancelReply(cancelled));
  client->invalidate();
  client->invalidate();
  EXPECT_TRUE(test::waitUntil([&] {
    std::lock_guard lock(order);
    return events.size() == 4;
  }));
  std::this_thread::sleep_for(20ms);
  std::lock_guard lock(order);
  EXPECT_EQ((std::vector<std::string>{"failed", "failed", "failed", "invalidated 1"}), events);
  EXPECT_TRUE(serverEnded.waitFor());
}

TEST_F(TransportTest, DescriptorsTravelBothWays) {
  const std::string request = directory.file("request.txt");
  const std::string answer = directory.file("answer.txt");
  std::ofstream(request) << "read me through the descriptor";
  std::ofstream(answer) << "the server's file";
  serverHandler = [&](const std::shared_ptr<Connection>&, Message message, Reply reply) {
    ASSERT_EQ(1u, message.descriptors.size());
    char buffer[64] = {};
    const ssize_t got = ::pread(message.descriptors[0].get(), buffer, sizeof(buffer) - 1, 0);
    std::vector<UniqueFd> back;
    back.emplace_back(::open(answer.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    reply(Message{bytesOf(std::string(buffer, got > 0 ? got : 0)), std::move(back)});
  };
  auto client = connect();
  ASSERT_TRUE(accepted.waitFor());
  const size_t before = test::openDescriptorCount();
  for (int round = 0; round < 20; ++round) {
    std::vector<UniqueFd> sent;
    sent.emplace_back(::open(request.c_str(), O_RDONLY | O_CLOEXEC));
    std::promise<Message> replied;
    client->sendWithReply(Message{bytesOf("open"), std::move(sent)},
                          [&](std::optional<Message> reply) {
                            replied.set_value(reply ? std::move(*reply) : Message{});
                          });
    Message reply = replied.get_future().get();
    EXPECT_EQ("read me through the descriptor", textOf(reply.payload));
    ASSERT_EQ(1u, reply.descriptors.size());
    char buffer[64] = {};
    EXPECT_GT(::pread(reply.descriptors[0].get(), buffer, sizeof(buffer) - 1, 0), 0);
    EXPECT_STREQ("the server's file", buffer);
  }
  // The server closes its copies just after replying.
  EXPECT_TRUE(test::waitUntil([&] { return test::openDescriptorCount() <= before; }));
}

TEST_F(TransportTest, TenThousandConnectionsLeaveNoDescriptorsOrThreadsBehind) {
  keepServerConnections = false;
  // Let the pool settle to its one waiting thread first.
  ASSERT_TRUE(test::waitUntil([&] { return options.pool->threadCount() == 1; }));
  const size_t descriptors = test::openDescriptorCount();
  const size_t threads = test::threadCount();
  std::vector<std::shared_ptr<Connection>> batch;
  for (int round = 0; round < 100; ++round) {
    for (int index = 0; index < 100; ++index) {
      NSError error;
      auto connection =
          Connection::connectToPath(listener->socketPath(), PeerRequirement::any, options, &error);
      ASSERT_TRUE(connection) << error.localizedDescription();
      connection->activate();
      batch.push_back(std::move(connection));
    }
    if (round % 10 == 0) {
      EXPECT_EQ("round", call(*batch.back(), "round"));
    }
    for (auto& connection : batch) {
      connection->invalidate();
    }
    batch.clear();
  }
  EXPECT_TRUE(serverEnded.waitFor(10'000, std::chrono::seconds(30)));
  EXPECT_TRUE(test::waitUntil([&] { return options.pool->sourceCount() == 1; }));
  EXPECT_TRUE(test::waitUntil([&] { return test::openDescriptorCount() <= descriptors; }))
      << test::openDescriptorCount() << " descriptors, " << descriptors << " before";
  EXPECT_TRUE(test::waitUntil([&] { return test::threadCount() <= threads; }))
      << test::threadCount() << " threads, " << threads << " before";
}

TEST(ListenerTest, ReplacesAStaleSocketOpensItToAllAndRefusesOtherFiles) {
  test::TempDirectory directory;
  TransportOptions options;
  options.pool = WorkerPool::create({4, 50ms});
  const std::string path = directory.file("stale");
  {
    Listener earlier(path, options);
    ASSERT_TRUE(earlier.activate(nullptr));
    // A crash leaves the file: simulate by hard-linking it away and back.
    ASSERT_EQ(0, ::link(path.c_str(), (path + ".kept").c_str()));
  }
  ASSERT_EQ(0, ::rename((path + ".kept").c_str(), path.c_str()));
  Listener listener(path, options);
  NSError error;
  ASSERT_TRUE(listener.activate(&error)) << error.localizedDescription();
  struct stat status {};
  ASSERT_EQ(0, ::lstat(path.c_str(), &status));
  EXPECT_TRUE(S_ISSOCK(status.st_mode));
  EXPECT_EQ(0666u, status.st_mode & 0777);
  listener.invalidate();
  EXPECT_NE(0, ::lstat(path.c_str(), &status)); // removed with the listener

  const std::string regular = directory.file("regular");
  std::ofstream(regular) << "keep";
  Listener refused(regular, options);
  EXPECT_FALSE(refused.activate(&error));
  EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::listenerFailure), error.code());
  EXPECT_EQ(0, ::lstat(regular.c_str(), &status));
}

TEST(ServiceNameTest, OnlyPlainLabelsBecomeSocketPaths) {
  EXPECT_EQ("/var/run/com.quillby.Lumora5.Agent",
            socketPathForService("com.quillby.Lumora5.Agent", nullptr));
  for (const char* name : {"", ".", "..", ".hidden", "a/b", "../etc/passwd", "a b", "tab\t"}) {
    NSError error;
    EXPECT_FALSE(socketPathForService(name, &error)) << name;
    EXPECT_EQ(static_cast<int64_t>(TransportErrorCode::invalidServiceName), error.code());
  }
  EXPECT_TRUE(isValidServiceName(std::string(98, 'a')));
  EXPECT_FALSE(isValidServiceName(std::string(99, 'a')));
  NSError error;
  EXPECT_FALSE(Listener::forService("../x", {}, &error));
  EXPECT_FALSE(Connection::connectToService("a/b", PeerRequirement::root, {}, &error));
}

} // namespace
} // namespace platform::xpc
