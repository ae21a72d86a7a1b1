#include "platform/log/OSLog.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

class OSLogTest : public ::testing::Test {
protected:
  void SetUp() override {
    OSLog::setSinkForTest([this](const std::string& text) { written.push_back(text); });
  }
  void TearDown() override { OSLog::setSinkForTest(nullptr); }

  std::vector<std::string> written;
};

TEST_F(OSLogTest, EveryLineCarriesTheJournalPriorityOfItsLevel) {
  const OSLog log("PrivilegedAgent", "Agent");
  log.info("Staring agent...");
  log.notice("audit");
  log.warning("careful");
  log.error("refused");
  log.fault("Failed to launch agent");
  log.debug("detail");
  EXPECT_EQ((std::vector<std::string>{
                "<6>PrivilegedAgent[Agent] info: Staring agent...\n",
                "<5>PrivilegedAgent[Agent] notice: audit\n",
                "<4>PrivilegedAgent[Agent] warning: careful\n",
                "<3>PrivilegedAgent[Agent] error: refused\n",
                "<2>PrivilegedAgent[Agent] fault: Failed to launch agent\n",
                "<7>PrivilegedAgent[Agent] debug: detail\n",
            }),
            written);
}

TEST_F(OSLogTest, AMessageOfSeveralLinesCannotPassForAnotherSourceOrPriority) {
  const OSLog log("PrivilegedAgent", "IPC");
  log.info("Removed /tmp/x\n<2>PrivilegedAgent[Agent] fault: forged\n");
  log.error("");
  ASSERT_EQ(2u, written.size());
  EXPECT_EQ("<6>PrivilegedAgent[IPC] info: Removed /tmp/x\n"
            "<6>PrivilegedAgent[IPC] info: <2>PrivilegedAgent[Agent] fault: forged\n",
            written[0]);
  EXPECT_EQ("<3>PrivilegedAgent[IPC] error: \n", written[1]);
}

} // namespace
} // namespace platform
