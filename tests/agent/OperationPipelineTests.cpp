#include "agent/OperationHandlers.h"
#include "agent/OperationPipeline.h"
#include "api/HealthCheckResponse.h"
#include "api/Requests.h"
#include "ipc/HandshakePayload.h"
#include "ipc/XPCConnection.h"
#include "ipc/XPCListener.h"
#include "ipc/XPCProtocolError.h"
#include "platform/dispatch/DispatchMain.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Listener.h"

#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

namespace agent {
namespace {

using namespace std::chrono_literals;
using api::PrivilegedOperationError;

// The one value a publisher emits at once, or none.
template <class T>
std::optional<T> onlyValue(const platform::reactive::AnyPublisher<T>& publisher) {
  std::vector<T> values;
  bool failed = false;
  auto subscription = publisher.sink(
      [&](const platform::reactive::Completion& completion) { failed = completion.isFailure(); },
      [&](T value) { values.push_back(std::move(value)); });
  EXPECT_FALSE(failed);
  EXPECT_LE(values.size(), 1u);
  return values.empty() ? std::nullopt : std::optional<T>(values.front());
}

TEST(OperationPipeline, AValueBecomesASuccessResult) {
  int runs = 0;
  auto publisher = performOperation<uint64_t>([&] {
    ++runs;
    return uint64_t(42);
  });
  EXPECT_EQ(runs, 1); // ran at once, before anyone subscribed
  auto result = onlyValue(publisher);
  ASSERT_TRUE(result && result->isSuccess());
  EXPECT_EQ(result->value(), 42u);
  EXPECT_EQ(runs, 1);
}

TEST(OperationPipeline, AThrownErrorBecomesAFailureResultWithTheConvertedError) {
  auto publisher = performOperation<bool>([]() -> bool {
    throw platform::NSErrorException(platform::NSError(
        "SomeDomain", 7, {{platform::NSLocalizedDescriptionKey, std::string("It broke")}}));
  });
  auto result = onlyValue(publisher);
  ASSERT_TRUE(result && !result->isSuccess());
  EXPECT_EQ(result->error(), PrivilegedOperationError(7, "SomeDomain", "It broke"));
  EXPECT_EQ(platform::json::write(result->encodeJSON()),
            R"({"failure":{"code":7,"description":"It broke","domain":"SomeDomain"}})");

  // An operation error that already is the record is not wrapped again; other exceptions bridge.
  auto record = onlyValue(performOperation<bool>(
      []() -> bool { throw PrivilegedOperationError(3, "pkgutil", "No receipt"); }));
  ASSERT_TRUE(record && !record->isSuccess());
  EXPECT_EQ(record->error(), PrivilegedOperationError(3, "pkgutil", "No receipt"));
  auto foreign = onlyValue(performOperation<bool>([]() -> bool { throw std::runtime_error("x"); }));
  ASSERT_TRUE(foreign && !foreign->isSuccess());
}

// The agent's handlers on a real engine, listening on a private socket, reached by an
// in-process client that has passed the handshake.
class AgentHandlers : public ::testing::Test {
protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "agent-handlers-" + std::to_string(::getpid()) + ".sock";
    auto listener = std::make_unique<ipc::XPCListener>(
        std::make_unique<platform::xpc::Listener>(path_, platform::xpc::TransportOptions{}),
        "agent-test");
    engine_ = ipc::XPCServerEngine::create(
        ipc::XPCServerEngine::Descriptor{
            ipc::XPCServerEngine::ServerType::machService("agent-test"),
            ipc::ClientRequirement{std::make_shared<ipc::AlwaysRule>(true)}},
        std::move(listener));
    registerOperationHandlers(*engine_);
    engine_->start();

    platform::NSError error;
    auto transport = platform::xpc::Connection::connectToPath(
        path_, platform::xpc::PeerRequirement::any, {}, &error);
    ASSERT_TRUE(transport) << error.description();
    client_ = ipc::XPCConnection::create(transport, {});
    client_->activate();

    ipc::XPCMessage handshake;
    handshake.flags = ipc::XPCMessage::Flag::handshake();
    handshake.binaryPayload = mapper_.makeBinaryPayload(
        ipc::HandshakePayload{platform::URL::fileURLWithPath("/Applications/Test.app"),
                              "com.quillby.Lumora5",
                              "5.3.1",
                              {}});
    ASSERT_EQ(send(handshake).flags, ipc::XPCMessage::Flag::acknowledge());
  }
  void TearDown() override {
    if (client_) {
      client_->invalidate();
    }
    engine_.reset();
    ::unlink(path_.c_str());
  }

  ipc::XPCMessage send(const ipc::XPCMessage& message) {
    auto promise = std::make_shared<std::promise<ipc::XPCMessage>>();
    auto future = promise->get_future();
    auto subscription = client_->send(message, 5000ms)
                            .sink(
                                [promise](const platform::reactive::Completion& completion) {
                                  if (completion.isFailure()) {
                                    try {
                                      promise->set_exception(completion.error());
                                    } catch (...) {
                                    }
                                  }
                                },
                                [promise](ipc::XPCMessage reply) {
                                  try {
                                    promise->set_value(std::move(reply));
                                  } catch (...) {
                                  }
                                });
    EXPECT_EQ(future.wait_for(10s), std::future_status::ready);
    return future.get();
  }
  template <class Q> ipc::XPCMessage request(const Q& request) {
    return send(mapper_.makeMessage(request));
  }
  template <class Q> OperationResult<typename Q::ResponseType> result(const Q& query) {
    ipc::XPCMessage reply = request(query);
    EXPECT_EQ(reply.flags, ipc::XPCMessage::Flag::payload());
    return mapper_.decodePayload<OperationResult<typename Q::ResponseType>>(reply);
  }

  std::string path_;
  ipc::XPCMessageMapper mapper_;
  std::shared_ptr<ipc::XPCServerEngine> engine_;
  std::shared_ptr<ipc::XPCConnection> client_;
};

TEST_F(AgentHandlers, AFailingOperationAnswersWithAFailureInANormalReply) {
  const std::string missing = ::testing::TempDir() + "agent-missing-" + std::to_string(::getpid());
  auto reply = request(api::FileMoveRequest{missing, missing + "-moved"});
  ASSERT_EQ(reply.flags, ipc::XPCMessage::Flag::payload());
  ASSERT_TRUE(reply.binaryPayload);
  EXPECT_EQ(reply.binaryPayload->encodedType,
            "Result<Swift.Bool, PrivilegedOperationServiceAPI.PrivilegedOperationError>");
  auto result = mapper_.decodePayload<OperationResult<bool>>(reply);
  ASSERT_FALSE(result.isSuccess());
  EXPECT_EQ(result.error().domain, "NSCocoaErrorDomain");
}

TEST_F(AgentHandlers, BinaryThinningReportsTheReaderError) {
  const std::string plain = ::testing::TempDir() + "agent-not-fat-" + std::to_string(::getpid());
  FILE* file = std::fopen(plain.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("not a universal binary, just text", file);
  std::fclose(file);
  auto thinned = result(api::BinaryThinningRequest{platform::URL::fileURLWithPath(plain), "arm64"});
  ::unlink(plain.c_str());
  ASSERT_FALSE(thinned.isSuccess());
  EXPECT_EQ(thinned.error(),
            PrivilegedOperationError(2, "BinaryReaderErrorDomain", "This file isn't fat binary"));
}

TEST_F(AgentHandlers, HealthCheckAnswersTheEmbeddedVersion) {
  auto health = result(api::HealthCheckRequest{});
  ASSERT_TRUE(health.isSuccess());
  EXPECT_EQ(health.value().version, "5.3.1");
}

TEST_F(AgentHandlers, EveryRequestTypeHasAHandler) {
  const std::vector<std::string> simpleRequests = {
      "TerminateRequest",
      "HealthCheckRequest",
      "FileExistsRequest",
      "FileSizeRequest",
      "RemoveFileRequest",
      "TruncateFileRequest",
      "FileMoveRequest",
      "PrivilegedAgentRemoveRequest",
      "RemoveDiagnosticsLogsRequest",
      "RemoveASLLogsRequest",
      "BinaryThinningRequest",
      "RemoveBrokenStartupItemRequests",
      "RemovePackageReceiptRequest",
      "PeriodicScriptRequest",
      "FlushDNSCacheRequest",
      "ReindexSpotlightRequest",
      "PrivilegedAccessTaskRequest",
      "RemoveLaunchAgentRequest",
      "AddUserToAllowedList",
  };
  for (const std::string& name : simpleRequests) {
    if (name == "TerminateRequest") {
      continue; // answering it would end this process
    }
    ipc::XPCMessage message;
    message.flags = ipc::XPCMessage::Flag::payload();
    // An array decodes as no request record, so no operation runs; only the lookup is tested.
    message.binaryPayload = ipc::XPCMessage::BinaryPayload{name, {'[', ']'}};
    auto reply = send(message);
    ASSERT_TRUE(reply.error) << name;
    EXPECT_EQ(reply.error->as<ipc::XPCProtocolError::MissingRequestHandler>(), nullptr) << name;
  }
  ipc::XPCMessage unknown;
  unknown.flags = ipc::XPCMessage::Flag::payload();
  unknown.binaryPayload = ipc::XPCMessage::BinaryPayload{"NoSuchRequest", {'{', '}'}};
  auto reply = send(unknown);
  ASSERT_TRUE(reply.error);
  EXPECT_NE(reply.error->as<ipc::XPCProtocolError::MissingRequestHandler>(), nullptr);
}

TEST_F(AgentHandlers, RepairDiskPermissionsIsASequenceOfOneFailedStep) {
  auto handler =
      engine_->sequenceStrategyForTest().handlers().handler("RepairDiskPermissionsRequest");
  ASSERT_TRUE(handler);
  const platform::UUID sequenceID;
  auto start = mapper_.makeMessage(api::RepairDiskPermissionsRequest{"501"}, sequenceID);
  std::vector<ipc::XPCMessage> elements;
  bool finished = false;
  auto subscription =
      handler->handle(start, ipc::ConnectionID())
          .sink(
              [&](const platform::reactive::Completion& completion) {
                finished = completion.isFinished();
              },
              [&](ipc::XPCMessage element) { elements.push_back(std::move(element)); });
  // The repair's tool starts on the main queue, which this thread serves here.
  platform::dispatch::DispatchQueue::main().drainForTest();
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_TRUE(finished);
  EXPECT_EQ(elements[0].sequenceID, sequenceID);
  EXPECT_FALSE(mapper_.decodePayload<bool>(elements[0]));
}

using AgentHandlersDeathTest = AgentHandlers;

// The reply comes first (the main queue that runs the exit is not served while this thread
// waits for it), then the main loop ends the process with status 0.
TEST_F(AgentHandlersDeathTest, TerminateRequestRepliesThenExitsWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto reply = result(api::TerminateRequest{});
        std::fputs(reply.isSuccess() ? "terminate replied\n" : "terminate failed\n", stderr);
        platform::dispatch::dispatchMain();
      },
      ::testing::ExitedWithCode(0), "terminate replied");
}

} // namespace
} // namespace agent
