#include "ipc/EngineHarness.h"
#include "ipc/XPCProtocolError.h"

namespace ipc::testing {
namespace {

using Sequences = EngineHarness;

api::RepairDiskPermissionsRequest repair(const std::string& userId) {
  return api::RepairDiskPermissionsRequest{userId};
}

TEST_F(Sequences, ElementsArriveInOrderThenTheSequenceFinishes) {
  auto client = startedClient();
  auto outcome =
      await(client->sendSequence<api::RepairDiskPermissionsRequest, bool>(repair("501")));
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.values, (std::vector<bool>{true, false}));
  EXPECT_EQ(client->runningSequences().count(), 0u);
}

TEST_F(Sequences, AFailingSourceEndsWithOneErrorMessage) {
  auto client = startedClient();
  auto outcome =
      await(client->sendSequence<api::RepairDiskPermissionsRequest, bool>(repair("fail")));
  EXPECT_TRUE(outcome.values.empty());
  auto error = failureOf<XPCProtocolError>(outcome);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error,
            XPCProtocolError::underlyingError("The operation couldn’t be completed. (T error 3.)"));
}

TEST_F(Sequences, CancelStopsARunningSequence) {
  auto client = startedClient();
  std::mutex mutex;
  std::vector<bool> received;
  auto running = client->sendSequence<api::RepairDiskPermissionsRequest, bool>(repair("hold"))
                     .sink([&](bool value) {
                       std::lock_guard lock(mutex);
                       received.push_back(value);
                     });
  // Wait until the server's pipeline subscribed to the held source.
  for (int i = 0; i < 500 && held_.subscriberCountForTest() == 0; ++i) {
    std::this_thread::sleep_for(2ms);
  }
  ASSERT_EQ(held_.subscriberCountForTest(), 1u);
  held_.send(true);
  for (int i = 0; i < 500; ++i) {
    std::lock_guard lock(mutex);
    if (!received.empty()) {
      break;
    }
    mutex.unlock();
    std::this_thread::sleep_for(2ms);
    mutex.lock();
  }
  running.cancel();
  EXPECT_EQ(client->runningSequences().count(), 0u);
  // The cancel message stops the server's pipeline, which releases the source.
  for (int i = 0; i < 500 && held_.subscriberCountForTest() != 0; ++i) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(held_.subscriberCountForTest(), 0u);
  std::lock_guard lock(mutex);
  EXPECT_EQ(received, std::vector<bool>{true});
}

TEST_F(Sequences, SequenceFlagsReachTheSequentialStrategy) {
  auto client = startedClient();
  // 0x1 alone: neither a start nor a cancel.
  auto mismatch = rawSend(client, messageWithFlags(0x1));
  ASSERT_EQ(mismatch.values.size(), 1u);
  EXPECT_EQ(mismatch.values[0], XPCMessage::errorReply(XPCProtocolError::messageTypeMismatch(
                                    XPCMessage::Flag{1}, XPCMessage::Flag{21})));
  // 0x5 without an identifier.
  XPCMessage start = XPCMessageMapper().makeMessage(repair("501"));
  start.flags = XPCMessage::Flag{0x5};
  auto missing = rawSend(client, start);
  ASSERT_EQ(missing.values.size(), 1u);
  EXPECT_EQ(missing.values[0], XPCMessage::errorReply(XPCProtocolError::missingSequenceID()));
  // 0x11 is a cancel: never answered (the send runs into its time-out).
  XPCMessage cancel = messageWithFlags(0x11);
  cancel.sequenceID = platform::UUID();
  auto unanswered = await(client->connection()->send(cancel, 200ms));
  auto error = failureOf<XPCProtocolError>(unanswered);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, XPCProtocolError::timeout());
}

TEST_F(Sequences, PushedMessagesOfUnknownSequencesAreRefusedByTheClient) {
  auto client = startedClient();
  XPCMessage pushed = XPCMessageMapper().makeMessage(true, platform::UUID());
  EXPECT_THROW(client->validateSequence(pushed), XPCProtocolError);
  XPCMessage plain = XPCMessageMapper().makeMessage(true);
  try {
    client->validateSequence(plain);
    FAIL();
  } catch (const XPCProtocolError& error) {
    EXPECT_EQ(error,
              XPCProtocolError::messageTypeMismatch(XPCMessage::Flag{4}, XPCMessage::Flag{1}));
  }
}

} // namespace
} // namespace ipc::testing
