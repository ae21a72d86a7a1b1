#include "ipc/Logger.h"
#include "ipc/XPCConnection.h"
#include "ipc/XPCListener.h"
#include "ipc/XPCProtocolError.h"

#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ipc {
namespace {

using namespace std::chrono_literals;
using platform::reactive::AnyCancellable;
using platform::reactive::Completion;

// Collects the framework's log lines.
class LogCapture {
public:
  LogCapture() {
    Logger::setHandler([this](Logger::Level, const Logger::MessageBuilder& build) {
      std::lock_guard lock(mutex_);
      lines_.push_back(build());
    });
  }
  ~LogCapture() { Logger::removeHandler(); }
  bool contains(const std::string& text) {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
      if (line.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

XPCMessage simpleMessage() {
  XPCMessage message;
  message.flags = XPCMessage::Flag(4);
  message.binaryPayload = XPCMessage::BinaryPayload{"FileSizeRequest", {'{', '}'}};
  return message;
}

// A listener on a private socket and a client connection to it; the accepted server side is
// handed to the test once the client connected.
class ConnectionPair : public ::testing::Test {
protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "xpc-connection-" + std::to_string(getpid()) + "-" +
            std::to_string(counter_++) + ".sock";
    listener_ = std::make_unique<XPCListener>(
        std::make_unique<platform::xpc::Listener>(path_, listenerOptions()), serviceName());
    std::promise<AnyXPCConnection> accepted;
    auto future = accepted.get_future();
    auto shared = std::make_shared<std::promise<AnyXPCConnection>>(std::move(accepted));
    acceptance_ = listener_->connections().sink([shared](AnyXPCConnection connection) {
      try {
        shared->set_value(std::move(connection));
      } catch (...) {
      }
    });
    listener_->activate();
    platform::NSError error;
    auto transport = platform::xpc::Connection::connectToPath(
        path_, platform::xpc::PeerRequirement::any, {}, &error);
    ASSERT_TRUE(transport) << error.description();
    clientTransport_ = transport;
    client_ = XPCConnection::create(transport, {});
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    server_ = future.get();
  }
  void TearDown() override {
    if (client_) {
      client_->invalidate();
    }
    if (server_) {
      server_->invalidate();
    }
    listener_.reset();
  }
  virtual std::optional<std::string> serviceName() const { return std::nullopt; }
  virtual platform::xpc::TransportOptions listenerOptions() const { return {}; }

  // Collects the requests that reach the server side.
  struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<XPCRequest> requests;
    std::optional<Completion> completion;
  };
  std::shared_ptr<Received> collectServerRequests() {
    auto received = std::make_shared<Received>();
    serverRequests_ = server_->requests().sink(
        [received](const Completion& completion) {
          std::lock_guard lock(received->mutex);
          received->completion = completion;
          received->changed.notify_all();
        },
        [received](XPCRequest request) {
          std::lock_guard lock(received->mutex);
          received->requests.push_back(std::move(request));
          received->changed.notify_all();
        });
    server_->activate();
    return received;
  }

  // Sends simpleMessage() from the client, lets `answer` reply to the request as the server
  // received it, and returns the reply that reaches the client (none after five seconds).
  std::optional<XPCMessage> exchange(const std::function<void(XPCRequest&)>& answer) {
    auto received = collectServerRequests();
    client_->activate();
    auto replied = std::make_shared<std::promise<XPCMessage>>();
    auto future = replied->get_future();
    auto sending = client_->send(simpleMessage(), 5s)
                       .sink([](const Completion&) {},
                             [replied](XPCMessage reply) { replied->set_value(reply); });
    {
      std::unique_lock lock(received->mutex);
      if (!received->changed.wait_for(lock, 5s, [&] { return !received->requests.empty(); })) {
        return std::nullopt;
      }
      answer(received->requests[0]);
    }
    if (future.wait_for(5s) != std::future_status::ready) {
      return std::nullopt;
    }
    return future.get();
  }

  // Sends raw bytes from the client side and waits for the raw reply.
  std::optional<std::string> rawCall(const std::string& bytes) {
    std::promise<std::optional<std::string>> replied;
    auto future = replied.get_future();
    auto shared = std::make_shared<std::promise<std::optional<std::string>>>(std::move(replied));
    rawTransport()->sendWithReply(
        platform::xpc::Message{platform::Bytes(bytes.begin(), bytes.end()), {}},
        [shared](std::optional<platform::xpc::Message> reply) {
          shared->set_value(reply ? std::optional<std::string>(
                                        std::string(reply->payload.begin(), reply->payload.end()))
                                  : std::nullopt);
        });
    if (future.wait_for(5s) != std::future_status::ready) {
      return std::nullopt;
    }
    return future.get();
  }
  // The client's transport, for bytes that the client wrapper would never send.
  std::shared_ptr<platform::xpc::Connection> rawTransport() {
    client_->activate();
    return clientTransport_;
  }

  static inline int counter_ = 0;
  std::string path_;
  std::unique_ptr<XPCListener> listener_;
  AnyCancellable acceptance_;
  AnyCancellable serverRequests_;
  std::shared_ptr<XPCConnection> client_;
  AnyXPCConnection server_;
  std::shared_ptr<platform::xpc::Connection> clientTransport_;
};

TEST_F(ConnectionPair, RequestsArriveAndRepliesReachTheSender) {
  auto reply = exchange([](XPCRequest& request) {
    EXPECT_TRUE(request.needsReply);
    EXPECT_EQ(request.message, simpleMessage());
    request.replyHandler(XPCMessage::acknowledge());
  });
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, XPCMessage::acknowledge());
}

// A listener whose frames may carry at most 4 KiB.
class SmallFrameConnectionPair : public ConnectionPair {
protected:
  platform::xpc::TransportOptions listenerOptions() const override {
    platform::xpc::TransportOptions options;
    options.limits.maxPayloadSize = 4096;
    return options;
  }
};

TEST_F(SmallFrameConnectionPair, AReplyOverTheFrameCapIsAnsweredWithAnErrorThatNamesItsSize) {
  LogCapture log;
  auto reply = exchange([](XPCRequest& request) {
    XPCMessage large;
    large.flags = XPCMessage::Flag(4);
    large.binaryPayload = XPCMessage::BinaryPayload{"Large", platform::Bytes(10000, 'x')};
    request.replyHandler(large);
  });
  ASSERT_TRUE(reply && reply->error);
  EXPECT_NE(reply->error->description().find("exceeds the frame cap of 4096 bytes"),
            std::string::npos)
      << reply->error->description();
  EXPECT_TRUE(log.contains("exceeds the frame cap of 4096 bytes"));
}

TEST_F(ConnectionPair, UndecodableRequestIsAnsweredAtOnceAndNeverDelivered) {
  LogCapture log;
  auto received = collectServerRequests();
  auto reply = rawCall(R"({"version":2,"flags":"garbage"})");
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, R"({"error":{"protocolVersionMismatch":{"_0":2}},"flags":8,"version":1})");
  // Without a reply block only the log line remains.
  std::string noReply = "not json";
  rawTransport()->send(platform::xpc::Message{platform::Bytes(noReply.begin(), noReply.end()), {}});
  for (int i = 0; i < 200 && !log.contains("Failed to decode XPC request: not json"); ++i) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(log.contains("Failed to decode XPC request: not json, error: "));
  std::lock_guard lock(received->mutex);
  EXPECT_TRUE(received->requests.empty());
}

TEST_F(ConnectionPair, SendFailsWithTimeoutOnTheConnectionsOwnQueue) {
  collectServerRequests(); // never answers
  client_->activate();
  std::promise<std::string> failed;
  auto future = failed.get_future();
  auto started = std::chrono::steady_clock::now();
  auto sending =
      client_->send(simpleMessage(), 100ms)
          .sink(
              [&failed](const Completion& completion) {
                try {
                  std::rethrow_exception(completion.error());
                } catch (const XPCProtocolError& error) {
                  failed.set_value(error == XPCProtocolError::timeout()
                                       ? platform::dispatch::DispatchQueue::currentLabel()
                                       : "other error");
                } catch (...) {
                  failed.set_value("unexpected");
                }
              },
              [](XPCMessage) {});
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
  std::string label = future.get();
  EXPECT_EQ(label, "XPCConnection.timeoutQueue." + client_->uuid().description());
  EXPECT_EQ(client_->description(), "Connection<" + client_->uuid().description() + ">");
}

TEST_F(ConnectionPair, InvalidationFailsPendingSendsAndEndsRequests) {
  auto received = collectServerRequests();
  client_->activate();
  auto clientRequests = std::make_shared<std::promise<std::exception_ptr>>();
  auto requestsEnded = clientRequests->get_future();
  auto clientSide = client_->requests().sink(
      [clientRequests](const Completion& completion) {
        clientRequests->set_value(completion.error());
      },
      [](XPCRequest) {});
  std::promise<std::exception_ptr> sendFailed;
  auto future = sendFailed.get_future();
  auto sending =
      client_->send(simpleMessage(), 5s)
          .sink([&sendFailed](
                    const Completion& completion) { sendFailed.set_value(completion.error()); },
                [](XPCMessage) {});
  {
    std::unique_lock lock(received->mutex);
    ASSERT_TRUE(received->changed.wait_for(lock, 5s, [&] { return !received->requests.empty(); }));
  }
  server_->invalidate();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  XPCConnectionError expected(client_->uuid(), XPCConnectionError::Reason::invalidated);
  try {
    std::rethrow_exception(future.get());
  } catch (const XPCConnectionError& error) {
    EXPECT_EQ(error, expected);
  }
  ASSERT_EQ(requestsEnded.wait_for(5s), std::future_status::ready);
  try {
    std::rethrow_exception(requestsEnded.get());
  } catch (const XPCConnectionError& error) {
    EXPECT_EQ(error, expected);
  }
}

TEST_F(ConnectionPair, EverySubscriptionToASendSendsAgain) {
  auto received = collectServerRequests();
  client_->activate();
  auto publisher = client_->send(simpleMessage(), 5s);
  auto first = publisher.sink([](const Completion&) {}, [](XPCMessage) {});
  auto second = publisher.sink([](const Completion&) {}, [](XPCMessage) {});
  std::unique_lock lock(received->mutex);
  EXPECT_TRUE(received->changed.wait_for(lock, 5s, [&] { return received->requests.size() == 2; }));
}

TEST(XPCListenerLog, AcceptedConnectionsNameTheirPeerAndService) {
  LogCapture log;
  std::string path = ::testing::TempDir() + "xpc-listener-" + std::to_string(getpid()) + ".sock";
  for (auto name : {std::optional<std::string>(), std::optional<std::string>("com.example.x")}) {
    XPCListener listener(
        std::make_unique<platform::xpc::Listener>(path, platform::xpc::TransportOptions{}), name);
    std::promise<std::string> accepted;
    auto future = accepted.get_future();
    auto sink = listener.connections().sink([&accepted](AnyXPCConnection connection) {
      accepted.set_value(connection->description());
    });
    listener.activate();
    platform::NSError error;
    auto client = platform::xpc::Connection::connectToPath(
        path, platform::xpc::PeerRequirement::any, {}, &error);
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    std::string expected = future.get() + " - accepted, client pid <" + std::to_string(getpid()) +
                           ">, service: " + name.value_or("<unknown>");
    EXPECT_TRUE(log.contains(expected)) << expected;
  }
}

// An accepted connection of a peer that connected from a child and has exited (and been
// reaped) by the time the connection is wrapped, and one from this live process.
std::shared_ptr<platform::xpc::Connection> acceptedTransport(bool peerExits) {
  const std::string path =
      ::testing::TempDir() + "xpc-identity-" + std::to_string(getpid()) + ".sock";
  ::unlink(path.c_str());
  platform::UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  EXPECT_EQ(::bind(listening.get(), raw, sizeof address), 0);
  EXPECT_EQ(::listen(listening.get(), 1), 0);
  platform::UniqueFd own;
  if (peerExits) {
    const pid_t child = ::fork();
    if (child == 0) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      _exit(::connect(fd, raw, sizeof address) == 0 ? 0 : 1);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
  } else {
    own = platform::UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(::connect(own.get(), raw, sizeof address), 0);
  }
  platform::UniqueFd accepted(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ::unlink(path.c_str());
  platform::NSError error;
  return platform::xpc::Connection::adopt(std::move(accepted), {}, &error);
}

TEST(XPCConnectionIdentity, APeerWhoseIdentityCannotBeRecordedIsMarkedForRefusal) {
  auto live = XPCConnection::create(acceptedTransport(false),
                                    {.verifyPeerIdentity = true, .serviceName = {}});
  EXPECT_FALSE(live->identityFailure());
  auto gone = XPCConnection::create(acceptedTransport(true),
                                    {.verifyPeerIdentity = true, .serviceName = {}});
  ASSERT_TRUE(gone->identityFailure());
  EXPECT_NE(gone->identityFailure()->find("-67065"), std::string::npos) << *gone->identityFailure();
  // Without the check asked for, nothing is recorded and nothing is refused.
  EXPECT_FALSE(XPCConnection::create(acceptedTransport(true), {})->identityFailure());
}

} // namespace
} // namespace ipc
