#include "ipc/ConnectionQuota.h"
#include "ipc/XPCConnection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

namespace ipc {
namespace {

// Connections over socket pairs; the quota takes the user id as given, so one process can
// stand for many users.
class ConnectionQuotaTest : public ::testing::Test {
protected:
  std::shared_ptr<XPCConnection> connection() {
    int ends[2];
    EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends));
    peers_.emplace_back(ends[1]);
    platform::NSError error;
    auto transport = platform::xpc::Connection::adopt(platform::UniqueFd(ends[0]), {}, &error);
    auto made = XPCConnection::create(std::move(transport), {});
    held_.push_back(made);
    return made;
  }

  ConnectionQuota quota;

private:
  std::vector<platform::UniqueFd> peers_;
  std::vector<std::shared_ptr<XPCConnection>> held_;
};

TEST_F(ConnectionQuotaTest, AUserWaitsForItsHandshakeWithAFewConnectionsOldestOut) {
  std::vector<std::shared_ptr<XPCConnection>> waiting;
  for (size_t index = 0; index < ConnectionQuota::kMaxAwaitingHandshakePerUser; ++index) {
    waiting.push_back(connection());
    const auto admission = quota.admit(waiting.back(), 1000);
    EXPECT_TRUE(admission.admitted);
    EXPECT_TRUE(admission.evicted.empty());
  }
  const auto admission = quota.admit(connection(), 1000);
  EXPECT_TRUE(admission.admitted);
  ASSERT_EQ(1u, admission.evicted.size());
  EXPECT_EQ(waiting.front(), admission.evicted[0].first);
  // Another user is not pushed out by the first one's strangers.
  EXPECT_TRUE(quota.admit(connection(), 1001).evicted.empty());
}

TEST_F(ConnectionQuotaTest, AllUsersTogetherWaitWithABoundedNumberThatRootDoesNotCount) {
  std::shared_ptr<XPCConnection> first;
  size_t admitted = 0;
  for (uid_t user = 2000; admitted < ConnectionQuota::kMaxAwaitingHandshake; ++user) {
    for (int index = 0; index < 4; ++index, ++admitted) {
      auto made = connection();
      first = first ? first : made;
      EXPECT_TRUE(quota.admit(made, user).evicted.empty());
    }
  }
  for (int index = 0; index < 100; ++index) {
    EXPECT_TRUE(quota.admit(connection(), 0).evicted.empty());
  }
  const auto admission = quota.admit(connection(), 2999);
  ASSERT_EQ(1u, admission.evicted.size());
  EXPECT_EQ(first, admission.evicted[0].first);
  EXPECT_EQ("too many connections without a handshake", admission.evicted[0].second);
}

TEST_F(ConnectionQuotaTest, AUserHoldsABoundedNumberOfConnectionsButRootDoesNot) {
  std::vector<std::shared_ptr<XPCConnection>> served;
  for (size_t index = 0; index < ConnectionQuota::kMaxConnectionsPerUser; ++index) {
    served.push_back(connection());
    ASSERT_TRUE(quota.admit(served.back(), 3000).admitted);
    served.back()->markHandshaken();
  }
  const auto refused = quota.admit(connection(), 3000);
  EXPECT_FALSE(refused.admitted);
  EXPECT_EQ("user 3000 already holds 64 connections", refused.refusal);

  // A connection that ended gives its place back.
  served[0]->invalidate();
  for (int wait = 0; wait < 500 && !served[0]->hasEnded(); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(quota.admit(connection(), 3000).admitted);

  for (size_t index = 0; index <= 2 * ConnectionQuota::kMaxConnectionsPerUser; ++index) {
    auto made = connection();
    ASSERT_TRUE(quota.admit(made, 0).admitted);
    made->markHandshaken();
  }
}

} // namespace
} // namespace ipc
