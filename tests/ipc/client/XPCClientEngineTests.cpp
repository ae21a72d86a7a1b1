#include "ipc/EngineHarness.h"
#include "ipc/XPCProtocolError.h"

namespace ipc::testing {
namespace {

using ClientEngine = EngineHarness;

TEST_F(ClientEngine, SecondStartFailsWithoutASecondHandshake) {
  LogLines log;
  auto client = makeClient();
  EXPECT_TRUE(await(client->start()).finished);
  auto again = await(client->start());
  auto error = failureOf<ClientError>(again);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, ClientError::engineAlreadyStarted());
}

TEST_F(ClientEngine, UnreachableServiceFailsTheStartWithTheConnectionError) {
  auto client = XPCClientEngine::create(
      XPCClientEngine::Descriptor::anonymous(::testing::TempDir() + "no-such-socket"),
      testHandshake);
  ASSERT_TRUE(client->connectionFailure());
  auto started = await(client->start());
  auto error = failureOf<XPCConnectionError>(started);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->reason, XPCConnectionError::Reason::invalidated);
}

TEST_F(ClientEngine, AHandshakeProviderThatThrowsFailsTheStart) {
  auto client = XPCClientEngine::create(
      XPCClientEngine::Descriptor::anonymous(path_), []() -> HandshakePayload {
        throw HandshakePayload::Errors(HandshakePayload::Errors::Case::failedToGetBundleIdentifier);
      });
  auto error = failureOf<HandshakePayload::Errors>(await(client->start()));
  ASSERT_TRUE(error);
}

TEST_F(ClientEngine, ResponseOfAnotherTypeIsAnInvalidPayloadType) {
  auto client = startedClient();
  auto reply = await(client->send<api::FileSizeRequest, bool>(
      api::FileSizeRequest{platform::URL::fileURLWithPath("/x")}));
  auto error = failureOf<XPCProtocolError>(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, XPCProtocolError::invalidPayloadType("UInt64", "Bool"));
}

TEST_F(ClientEngine, CancellingASequenceSendsOneCancelAndForgetsIt) {
  auto client = startedClient();
  auto running = client
                     ->sendSequence<api::RepairDiskPermissionsRequest, bool>(
                         api::RepairDiskPermissionsRequest{"hold"})
                     .sink([](bool) {});
  for (int i = 0; i < 500 && held_.subscriberCountForTest() == 0; ++i) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(client->runningSequences().count(), 1u);
  running.cancel();
  EXPECT_EQ(client->runningSequences().count(), 0u);
  for (int i = 0; i < 500 && held_.subscriberCountForTest() != 0; ++i) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(held_.subscriberCountForTest(), 0u);
}

TEST_F(ClientEngine, ASequenceFinishedWithoutElementsCompletesEmpty) {
  auto client = startedClient();
  auto publisher = client->sendSequence<api::RepairDiskPermissionsRequest, bool>(
      api::RepairDiskPermissionsRequest{"hold"});
  auto outcome = std::async(std::launch::async, [&] { return await(publisher); });
  for (int i = 0; i < 500 && held_.subscriberCountForTest() == 0; ++i) {
    std::this_thread::sleep_for(2ms);
  }
  held_.send(Completion::finished());
  auto result = outcome.get();
  EXPECT_TRUE(result.finished);
  EXPECT_TRUE(result.values.empty());
}

} // namespace
} // namespace ipc::testing
