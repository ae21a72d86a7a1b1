#include "ipc/EngineHarness.h"
#include "ipc/XPCConnection.h"
#include "ipc/XPCProtocolError.h"

namespace ipc::testing {
namespace {

api::FileSizeRequest sizeRequest(const std::string& path) {
  return api::FileSizeRequest{platform::URL::fileURLWithPath(path)};
}

XPCMessage errorReplyOf(const Outcome<XPCMessage>& outcome) {
  EXPECT_EQ(outcome.values.size(), 1u);
  return outcome.values.empty() ? XPCMessage() : outcome.values.front();
}

using ServerEngine = EngineHarness;

TEST_F(ServerEngine, RequestsBeforeTheHandshakeAreUnauthorizedAfterItServed) {
  auto client = makeClient();
  client->connection()->activate();
  XPCMessageMapper mapper;
  auto refused = rawSend(client, mapper.makeMessage(sizeRequest("/abc")));
  XPCMessage reply = errorReplyOf(refused);
  EXPECT_EQ(reply, XPCMessage::errorReply(XPCProtocolError::unauthorized()));

  auto other = startedClient();
  auto size = await(other->send<api::FileSizeRequest, uint64_t>(sizeRequest("/abcd")));
  ASSERT_EQ(size.values.size(), 1u);
  EXPECT_EQ(size.values[0], 5u);
}

TEST_F(ServerEngine, HandshakeFlagsMustBeExact) {
  auto fresh = makeClient();
  fresh->connection()->activate();
  XPCMessage mixed = messageWithFlags(0x24);
  XPCMessageMapper mapper;
  mixed.binaryPayload = mapper.makeBinaryPayload(testHandshake());
  EXPECT_EQ(errorReplyOf(rawSend(fresh, mixed)),
            XPCMessage::errorReply(XPCProtocolError::unauthorized()));

  auto client = startedClient();
  XPCMessage reply = errorReplyOf(rawSend(client, mixed));
  ASSERT_TRUE(reply.error);
  EXPECT_NE(reply.error->description().find("unsupportedRequest"), std::string::npos);
}

TEST_F(ServerEngine, FlagsWithoutAStrategyAreUnsupported) {
  auto client = startedClient();
  for (uint32_t flags : {0x6u, 0x0u, 0x8u}) {
    XPCMessage reply = errorReplyOf(rawSend(client, messageWithFlags(flags)));
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.flags, XPCMessage::Flag::error());
    EXPECT_NE(reply.error->description().find("unsupportedRequest"), std::string::npos)
        << reply.error->description();
  }
}

TEST_F(ServerEngine, UnknownRequestTypeNamesNoHandler) {
  auto client = startedClient();
  XPCMessage message = messageWithFlags(4);
  message.binaryPayload =
      XPCMessage::BinaryPayload{"PrivilegedOperationServiceAPI.FileSizeRequest", {'{', '}'}};
  EXPECT_EQ(errorReplyOf(rawSend(client, message)),
            XPCMessage::errorReply(XPCProtocolError::missingRequestHandler(
                "PrivilegedOperationServiceAPI.FileSizeRequest", XPCMessage::Flag{4})));
  message.binaryPayload.reset();
  EXPECT_EQ(errorReplyOf(rawSend(client, message)),
            XPCMessage::errorReply(XPCProtocolError::missingPayload()));
}

TEST_F(ServerEngine, AHandlerThatEmitsTwiceGivesOneReply) {
  auto client = startedClient();
  auto reply = await(client->send<api::FileExistsRequest, bool>(
      api::FileExistsRequest{platform::URL::fileURLWithPath("/")}));
  ASSERT_EQ(reply.values.size(), 1u);
  EXPECT_TRUE(reply.values[0]);
}

TEST_F(ServerEngine, UndecodableRequestIsAnsweredWithTheDecodingFailure) {
  auto client = startedClient();
  XPCMessage message = messageWithFlags(4);
  message.binaryPayload = XPCMessage::BinaryPayload{"FileSizeRequest", {'{', '}'}};
  XPCMessage reply = errorReplyOf(rawSend(client, message));
  ASSERT_TRUE(reply.error);
  EXPECT_EQ(*reply.error,
            XPCProtocolError::underlyingError("The data couldn’t be read because it is missing."));
}

TEST_F(ServerEngine, ConnectedClientsAndEventsFollowHandshakesAndDisconnects) {
  std::mutex mutex;
  std::vector<size_t> sets;
  std::vector<ClientConnectionEvent::Kind> events;
  auto setsSubscription =
      engine_->connectedClients().sink([&](const ConnectedClients::ClientSet& set) {
        std::lock_guard lock(mutex);
        sets.push_back(set.size());
      });
  auto eventsSubscription = engine_->clientEvents().sink([&](const ClientConnectionEvent& event) {
    std::lock_guard lock(mutex);
    events.push_back(event.kind);
  });
  auto client = startedClient();
  // A second handshake on the same connection: a second connect event, the same set.
  XPCMessage handshake = messageWithFlags(0x20);
  handshake.binaryPayload = XPCMessageMapper().makeBinaryPayload(testHandshake());
  EXPECT_EQ(errorReplyOf(rawSend(client, handshake)), XPCMessage::acknowledge());
  client->connection()->invalidate();
  for (int i = 0; i < 500; ++i) {
    std::lock_guard lock(mutex);
    if (events.size() == 3) {
      break;
    }
    mutex.unlock();
    std::this_thread::sleep_for(2ms);
    mutex.lock();
  }
  std::lock_guard lock(mutex);
  EXPECT_EQ(sets, (std::vector<size_t>{0, 1, 0}));
  EXPECT_EQ(events, (std::vector<ClientConnectionEvent::Kind>{
                        ClientConnectionEvent::Kind::connect, ClientConnectionEvent::Kind::connect,
                        ClientConnectionEvent::Kind::disconnect}));
}

class RefusingEngine : public EngineHarness {
  bool admitClients() const override { return false; }
};

TEST_F(RefusingEngine, UnauthorizedClientLearnsNothingButTheRefusal) {
  LogLines log;
  auto client = makeClient();
  auto started = await(client->start());
  auto error = failureOf<XPCProtocolError>(started);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, XPCProtocolError::unauthorized());
  EXPECT_EQ(log.count(" - Handshake failed due to unauthorized"), 1u);
}

TEST_F(ServerEngine, AbandonedConnectionsLeaveNoPipelinesBehind) {
  const long before = XPCConnection::liveCountForTest();
  for (int i = 0; i < 300; ++i) {
    auto client = makeClient();
    if (i % 3 == 0) {
      await(client->start());
    } else if (i % 3 == 1) {
      client->connection()->activate(); // never hands in a handshake
    } else {
      await(client->start());
      // Vanishes in the middle of a sequence that waits for elements.
      auto running = client
                         ->sendSequence<api::RepairDiskPermissionsRequest, bool>(
                             api::RepairDiskPermissionsRequest{"hold"})
                         .sink([](bool) {});
      std::this_thread::sleep_for(1ms);
    }
  }
  // Every client is gone: both ends of every connection, and so every pipeline, end with it.
  for (int i = 0; i < 1000 && XPCConnection::liveCountForTest() > before; ++i) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(XPCConnection::liveCountForTest(), before);
  auto remaining = await(engine_->connectedClients().first());
  ASSERT_EQ(remaining.values.size(), 1u);
  for (int i = 0; i < 500 && !remaining.values[0].empty(); ++i) {
    std::this_thread::sleep_for(5ms);
    remaining = await(engine_->connectedClients().first());
  }
  EXPECT_TRUE(remaining.values[0].empty());
}

} // namespace
} // namespace ipc::testing
