#include "ipc/EngineHarness.h"
#include "ipc/XPCConnectionError.h"
#include "ipc/XPCProtocolError.h"
#include "ipc/client/ConnectableClient.h"

namespace ipc::testing {
namespace {

// The lean path must answer exactly as the publisher path does: the same reply bytes for a
// value, for bad payloads and for a failing handler.
class DirectRequests : public EngineHarness {
protected:
  static uint64_t sizeOf(const api::FileSizeRequest& request) {
    if (request.url.path() == "/fail") {
      throw platform::NSErrorException(platform::NSError("Test.Domain", 7));
    }
    return request.url.path().size();
  }

  void registerPublisherHandler() {
    engine_->registerHandler<api::FileSizeRequest, uint64_t>(
        [](api::FileSizeRequest request, ConnectionID) -> AnyPublisher<uint64_t> {
          try {
            return platform::reactive::Just(sizeOf(request));
          } catch (...) {
            return platform::reactive::Fail<uint64_t>(std::current_exception());
          }
        });
  }
  void registerImmediateHandler() {
    engine_->registerImmediateHandler<api::FileSizeRequest, uint64_t>(
        [](const api::FileSizeRequest& request, ConnectionID) { return sizeOf(request); });
  }

  // The encoded replies to a valid request, a failing one, a payload that is not JSON and one
  // that lacks the request's field.
  std::vector<std::string> replies(const std::shared_ptr<XPCClientEngine>& client) {
    XPCMessageMapper mapper;
    std::vector<XPCMessage> messages{
        mapper.makeMessage(api::FileSizeRequest{platform::URL::fileURLWithPath("/abcd")}),
        mapper.makeMessage(api::FileSizeRequest{platform::URL::fileURLWithPath("/fail")})};
    for (std::string text : {"{", "{\"other\":1}"}) {
      XPCMessage message = messages.front();
      message.binaryPayload->data = platform::Bytes(text.begin(), text.end());
      messages.push_back(message);
    }
    std::vector<std::string> encoded;
    for (auto& message : messages) {
      auto outcome = rawSend(client, message);
      EXPECT_EQ(outcome.values.size(), 1u);
      if (!outcome.values.empty()) {
        auto bytes = client->connection()->encoder().encode(outcome.values.front());
        encoded.emplace_back(bytes.begin(), bytes.end());
      }
    }
    return encoded;
  }
};

TEST_F(DirectRequests, AnswerWithTheBytesOfThePublisherPath) {
  auto client = startedClient();
  registerPublisherHandler();
  const auto expected = replies(client);
  registerImmediateHandler();
  const auto direct = replies(client);
  ASSERT_EQ(direct.size(), 4u);
  EXPECT_EQ(direct, expected);
  EXPECT_NE(direct[0].find("\"encodedType\":\"UInt64\""), std::string::npos) << direct[0];
  for (size_t failure = 1; failure < direct.size(); ++failure) {
    EXPECT_NE(direct[failure].find("\"error\""), std::string::npos) << direct[failure];
  }
}

TEST_F(DirectRequests, RefuseClientsBeforeTheHandshakeAndYieldToALaterRegistration) {
  registerImmediateHandler();
  auto stranger = makeClient();
  stranger->connection()->activate();
  auto refused = rawSend(stranger, XPCMessageMapper().makeMessage(api::FileSizeRequest{
                                       platform::URL::fileURLWithPath("/abcd")}));
  ASSERT_EQ(refused.values.size(), 1u);
  EXPECT_EQ(refused.values.front(), XPCMessage::errorReply(XPCProtocolError::unauthorized()));

  // The publisher registration replaces the immediate one: its reply is path length + 100.
  engine_->registerHandler<api::FileSizeRequest, uint64_t>(
      [](api::FileSizeRequest request, ConnectionID) {
        return platform::reactive::Just<uint64_t>(request.url.path().size() + 100);
      });
  auto client = startedClient();
  EXPECT_EQ((client->sendAndWait<api::FileSizeRequest, uint64_t>(
                api::FileSizeRequest{platform::URL::fileURLWithPath("/abcd")})),
            105u);
}

TEST_F(DirectRequests, SendAndWaitReturnsTheResponseOrThrowsAsSendFails) {
  registerImmediateHandler();
  auto client = startedClient();
  using Size = api::FileSizeRequest;
  EXPECT_EQ((client->sendAndWait<Size, uint64_t>(Size{platform::URL::fileURLWithPath("/ab")})), 3u);

  // An error reply: the same XPCProtocolError that send() fails with.
  const Size failing{platform::URL::fileURLWithPath("/fail")};
  auto published = await(client->send<Size, uint64_t>(failing));
  auto expected = failureOf<XPCProtocolError>(published);
  ASSERT_TRUE(expected);
  try {
    client->sendAndWait<Size, uint64_t>(failing);
    ADD_FAILURE() << "no failure";
  } catch (const XPCProtocolError& error) {
    EXPECT_EQ(error.description(), expected->description());
  }

  // A connection that ends: XPCConnectionError, at once rather than after the time-out. The
  // server's side goes when the last thread using the engine lets go of it: wait for the end
  // to reach the client, or a request may still be served meanwhile.
  engine_.reset();
  await(client->connection()->errors().first());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW((client->sendAndWait<Size, uint64_t>(failing)), XPCConnectionError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(DirectRequests, ConnectableClientConnectsForSendAndWait) {
  registerImmediateHandler();
  auto client = ConnectableClient::create(ConnectableClient::RequestPolicy::autoconnect,
                                          [this] { return makeClient(); });
  using Size = api::FileSizeRequest;
  EXPECT_EQ((client->sendAndWait<Size, uint64_t>(Size{platform::URL::fileURLWithPath("/abc")})),
            4u);
  EXPECT_EQ(client->currentState(), ClientConnectionState::established);

  auto offline = ConnectableClient::create(ConnectableClient::RequestPolicy::defaultPolicy,
                                           [this] { return makeClient(); });
  EXPECT_THROW((offline->sendAndWait<Size, uint64_t>(Size{platform::URL::fileURLWithPath("/abc")})),
               ClientError);
}

} // namespace
} // namespace ipc::testing
