#include "ipc/EngineHarness.h"
#include "ipc/client/ConnectableClient.h"

namespace ipc::testing {
namespace {

using State = ClientConnectionState;

class Connectable : public EngineHarness {
protected:
  std::shared_ptr<ConnectableClient> makeConnectable(ConnectableClient::RequestPolicy policy,
                                                     std::string path = {}) {
    factoryCalls_ = 0;
    std::string target = path.empty() ? path_ : path;
    auto client = ConnectableClient::create(policy, [this, target] {
      ++factoryCalls_;
      return XPCClientEngine::create(XPCClientEngine::Descriptor::anonymous(target), testHandshake);
    });
    states_ = client->state().sink([this](State state) {
      std::lock_guard lock(mutex_);
      seen_.push_back(state);
    });
    return client;
  }
  std::vector<State> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  bool waitFor(State state) {
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard lock(mutex_);
        if (!seen_.empty() && seen_.back() == state) {
          return true;
        }
      }
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  std::atomic<int> factoryCalls_{0};
  std::mutex mutex_;
  std::vector<State> seen_;
  AnyCancellable states_;
};

TEST_F(Connectable, ConnectsOnceAndPublishesEachState) {
  auto client = makeConnectable(ConnectableClient::RequestPolicy::defaultPolicy);
  EXPECT_EQ(seen(), std::vector<State>{State::idle});
  client->connect();
  ASSERT_TRUE(waitFor(State::established));
  EXPECT_EQ(factoryCalls_, 1);
  EXPECT_EQ(seen(), (std::vector<State>{State::idle, State::connecting, State::established}));
  client->connect(); // nothing changes while established
  EXPECT_EQ(factoryCalls_, 1);
  client->disconnect();
  EXPECT_EQ(seen().back(), State::idle);
}

TEST_F(Connectable, AFailedStartPublishesFailedAndALaterConnectMakesANewEngine) {
  auto client = makeConnectable(ConnectableClient::RequestPolicy::defaultPolicy,
                                ::testing::TempDir() + "absent.sock");
  client->connect();
  ASSERT_TRUE(waitFor(State::failed));
  client->connect();
  ASSERT_TRUE(waitFor(State::failed));
  EXPECT_EQ(factoryCalls_, 2);
}

TEST_F(Connectable, DefaultPolicyFailsAtOnceWithoutAConnection) {
  auto client = makeConnectable(ConnectableClient::RequestPolicy::defaultPolicy);
  auto reply = await(client->send<api::FileSizeRequest, uint64_t>(
      api::FileSizeRequest{platform::URL::fileURLWithPath("/ab")}));
  auto error = failureOf<ClientError>(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, ClientError::notConnected());
  EXPECT_EQ(factoryCalls_, 0);
}

TEST_F(Connectable, AutoconnectOpensTheConnectionAndWaitsForIt) {
  auto client = makeConnectable(ConnectableClient::RequestPolicy::autoconnect);
  auto reply = await(client->send<api::FileSizeRequest, uint64_t>(
      api::FileSizeRequest{platform::URL::fileURLWithPath("/ab")}));
  ASSERT_EQ(reply.values.size(), 1u);
  EXPECT_EQ(reply.values[0], 3u);
  EXPECT_EQ(factoryCalls_, 1);
}

TEST_F(Connectable, AutoconnectFailsWhenTheAttemptFails) {
  auto client = makeConnectable(ConnectableClient::RequestPolicy::autoconnect,
                                ::testing::TempDir() + "absent.sock");
  auto reply = await(client->send<api::FileSizeRequest, uint64_t>(
      api::FileSizeRequest{platform::URL::fileURLWithPath("/ab")}));
  auto error = failureOf<ClientError>(reply);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, ClientError::notConnected());
}

TEST_F(Connectable, ALostConnectionPublishesFailedAndAnAutoconnectingClientReconnects) {
  auto client = makeConnectable(ConnectableClient::RequestPolicy::autoconnect);
  const api::FileSizeRequest request{platform::URL::fileURLWithPath("/ab")};
  ASSERT_EQ(await(client->send<api::FileSizeRequest, uint64_t>(request)).values.size(), 1u);

  engine_.reset(); // the server restarts
  ASSERT_TRUE(waitFor(State::failed));
  startServer();
  auto reply = await(client->send<api::FileSizeRequest, uint64_t>(request));
  ASSERT_EQ(reply.values.size(), 1u);
  EXPECT_EQ(reply.values[0], 3u);
  EXPECT_EQ(factoryCalls_, 2);
  EXPECT_EQ(seen(), (std::vector<State>{State::idle, State::connecting, State::established,
                                        State::failed, State::connecting, State::established}));
}

} // namespace
} // namespace ipc::testing
