#include "StubTools.h"
#include "agent/PublishersCreate.h"
#include "operations/MaintenanceTaskOperations.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace operations {
namespace {

using platform::reactive::Completion;
using platform::reactive::Demand;
using test::StubBehaviour;
using test::stubRuns;
using test::writeStubTool;
using Runs = std::vector<std::vector<std::string>>;

// A name that a shell would split, expand and run, and a tool would read as options.
const std::string kHostileText = "daily; /bin/rm -rf / $(id) `id` -x 'a b' | > *";

class MaintenanceTaskOperationsTest : public ::testing::Test {
protected:
  MaintenanceTaskOperationsTest() { operations.setToolRootForTest(root.path()); }

  test::TemporaryRoot root;
  platform::dispatch::DispatchQueue repairQueue{"maintenance-test-repair"};
  MaintenanceTaskOperations operations{repairQueue};
};

TEST_F(MaintenanceTaskOperationsTest, PeriodicGetsTheScriptNameAsItsOnlyArgumentAndNoInput) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kPeriodicPath,
                StubBehaviour().readingInput());
  EXPECT_TRUE(operations.runPeriodicScript(kHostileText));
  EXPECT_EQ(stubRuns(root.path(), "periodic"), (Runs{{kHostileText}}));
  EXPECT_EQ(test::stubStandardInput(root.path(), "periodic"), "");
}

TEST_F(MaintenanceTaskOperationsTest, PeriodicSucceedsOnlySilentlyWithStatusZero) {
  struct Case {
    std::string output;
    int status;
    bool expected;
  };
  for (const Case& c : {Case{"", 0, true}, Case{" \n\n\t", 0, true}, Case{"ran daily\n", 0, false},
                        Case{"", 1, false}, Case{"unknown script\n", 2, false}}) {
    writeStubTool(root.path(), MaintenanceTaskOperations::kPeriodicPath,
                  StubBehaviour().printing(c.output).exitingWith(c.status));
    EXPECT_EQ(operations.runPeriodicScript("weekly"), c.expected)
        << "output \"" << c.output << "\" status " << c.status;
  }
}

TEST_F(MaintenanceTaskOperationsTest, AMissingToolIsAFailure) {
  EXPECT_FALSE(operations.runPeriodicScript("daily"));
  EXPECT_FALSE(operations.flushDNSCache());
  EXPECT_FALSE(operations.reindexSpotlight());
}

TEST_F(MaintenanceTaskOperationsTest, DNSFlushRunsBothToolsWithTheirExactArguments) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kDscacheutilPath,
                StubBehaviour().readingInput());
  writeStubTool(root.path(), MaintenanceTaskOperations::kKillallPath);
  EXPECT_TRUE(operations.flushDNSCache());
  EXPECT_EQ(stubRuns(root.path(), "dscacheutil"), (Runs{{"-flushcache"}}));
  EXPECT_EQ(stubRuns(root.path(), "killall"), (Runs{{"-HUP", "mDNSResponder"}}));
  EXPECT_EQ(test::stubStandardInput(root.path(), "dscacheutil"), "");
}

TEST_F(MaintenanceTaskOperationsTest, DNSFlushStillRestartsTheResponderAfterAFailedFlush) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kDscacheutilPath,
                StubBehaviour().exitingWith(1));
  writeStubTool(root.path(), MaintenanceTaskOperations::kKillallPath);
  EXPECT_FALSE(operations.flushDNSCache());
  EXPECT_EQ(stubRuns(root.path(), "killall").size(), 1u);
}

TEST_F(MaintenanceTaskOperationsTest, DNSFlushFailsWhenEitherToolPrints) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kDscacheutilPath);
  writeStubTool(root.path(), MaintenanceTaskOperations::kKillallPath,
                StubBehaviour().printing("No matching processes were found\n"));
  EXPECT_FALSE(operations.flushDNSCache());
  writeStubTool(root.path(), MaintenanceTaskOperations::kDscacheutilPath,
                StubBehaviour().printing("flushed"));
  writeStubTool(root.path(), MaintenanceTaskOperations::kKillallPath);
  EXPECT_FALSE(operations.flushDNSCache());
}

TEST_F(MaintenanceTaskOperationsTest, SpotlightReindexDependsOnTheStatusAlone) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kMdutilPath,
                StubBehaviour().printing("/:\n\tIndexing enabled.\n"));
  EXPECT_TRUE(operations.reindexSpotlight());
  EXPECT_EQ(stubRuns(root.path(), "mdutil"), (Runs{{"-E", "/"}}));
  writeStubTool(root.path(), MaintenanceTaskOperations::kMdutilPath,
                StubBehaviour().exitingWith(1));
  EXPECT_FALSE(operations.reindexSpotlight());
}

// Records the sequence as the sequential strategy consumes it: unlimited demand, every
// element, the completion.
class SequenceRecorder : public platform::reactive::Subscriber<bool> {
public:
  void receiveSubscription(std::shared_ptr<platform::reactive::Subscription> received) override {
    {
      std::lock_guard lock(mutex);
      subscription = received;
    }
    received->request(Demand::unlimited());
  }
  Demand receiveValue(bool value) override {
    std::lock_guard lock(mutex);
    values.push_back(value);
    return Demand::none();
  }
  void receiveCompletion(Completion completion) override {
    std::lock_guard lock(mutex);
    ++completions;
    finished = completion.isFinished();
    changed.notify_all();
  }
  bool waitForCompletion() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return completions > 0; });
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::shared_ptr<platform::reactive::Subscription> subscription;
  std::vector<bool> values;
  int completions = 0;
  bool finished = false;
};

// The repair as the agent serves it: a push publisher around the operation.
std::shared_ptr<SequenceRecorder> subscribeToRepair(const MaintenanceTaskOperations& operations,
                                                    const std::string& userId) {
  using Create = agent::Publishers::Create<bool>;
  auto recorder = std::make_shared<SequenceRecorder>();
  Create([&operations, userId](Create::Subscriber subscriber) {
    return operations.repairDiskPermissions(
        userId, subscriber.onValue,
        [onCompletion = subscriber.onCompletion] { onCompletion(Completion::finished()); });
  }).subscribe(recorder);
  return recorder;
}

TEST_F(MaintenanceTaskOperationsTest, RepairEmitsOneElementThenFinishes) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kDiskutilPath);
  auto recorder = subscribeToRepair(operations, kHostileText);
  ASSERT_TRUE(recorder->waitForCompletion());
  EXPECT_EQ(recorder->values, std::vector<bool>{true});
  EXPECT_TRUE(recorder->finished);
  EXPECT_EQ(stubRuns(root.path(), "diskutil"), (Runs{{"resetUserPermissions", "/", kHostileText}}));
}

TEST_F(MaintenanceTaskOperationsTest, RepairReportsAFailedOrMissingToolAsOneFalseElement) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kDiskutilPath,
                StubBehaviour().exitingWith(3));
  auto failed = subscribeToRepair(operations, "501");
  ASSERT_TRUE(failed->waitForCompletion());
  EXPECT_EQ(failed->values, std::vector<bool>{false});
  EXPECT_TRUE(failed->finished);

  MaintenanceTaskOperations withoutTool{repairQueue};
  withoutTool.setToolRootForTest(root / "nowhere");
  auto missing = subscribeToRepair(withoutTool, "501");
  ASSERT_TRUE(missing->waitForCompletion());
  EXPECT_EQ(missing->values, std::vector<bool>{false});
  EXPECT_TRUE(missing->finished);
}

bool waitUntil(const std::function<bool()>& condition) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(MaintenanceTaskOperationsTest, CancellingTheRepairEndsAndReapsTheTool) {
  const std::string pidFile = root / "log/diskutil.pid";
  writeStubTool(root.path(), MaintenanceTaskOperations::kDiskutilPath,
                StubBehaviour().runningFirst("echo $$ > '" + pidFile + "'\nexec /bin/sleep 30"));
  auto recorder = subscribeToRepair(operations, "501");
  ASSERT_TRUE(waitUntil([&] { return !test::readFile(pidFile).empty(); }));
  const pid_t pid = std::stoi(test::readFile(pidFile));
  ASSERT_EQ(::kill(pid, 0), 0);

  recorder->subscription->cancel();
  // A zombie still answers kill(pid, 0); only a reaped child is gone.
  EXPECT_TRUE(waitUntil([&] { return ::kill(pid, 0) != 0 && errno == ESRCH; }));
  repairQueue.drainForTest();
  std::lock_guard lock(recorder->mutex);
  EXPECT_TRUE(recorder->values.empty());
  EXPECT_EQ(recorder->completions, 0);
}

TEST_F(MaintenanceTaskOperationsTest, ACancelledToolThatIgnoresTerminationIsKilled) {
  const std::string pidFile = root / "log/diskutil.pid";
  writeStubTool(root.path(), MaintenanceTaskOperations::kDiskutilPath,
                StubBehaviour().runningFirst("trap '' TERM\necho $$ > '" + pidFile +
                                             "'\nexec /bin/sleep 30"));
  operations.setTerminationGracePeriodForTest(std::chrono::milliseconds(100));
  auto recorder = subscribeToRepair(operations, "501");
  ASSERT_TRUE(waitUntil([&] { return !test::readFile(pidFile).empty(); }));
  const pid_t pid = std::stoi(test::readFile(pidFile));
  recorder->subscription->cancel();
  EXPECT_TRUE(waitUntil([&] { return ::kill(pid, 0) != 0 && errno == ESRCH; }));
}

TEST_F(MaintenanceTaskOperationsTest, ARepairCancelledBeforeItsTurnNeverStarts) {
  writeStubTool(root.path(), MaintenanceTaskOperations::kDiskutilPath);
  std::mutex gate;
  std::unique_lock hold(gate);
  // Keeps the queue busy so that the repair waits behind this block.
  repairQueue.async([&gate] { std::lock_guard wait(gate); });
  bool called = false;
  auto cancellable = operations.repairDiskPermissions(
      "501", [&](bool) { called = true; }, [&] { called = true; });
  cancellable.cancel();
  hold.unlock();
  repairQueue.drainForTest();
  EXPECT_FALSE(called);
  EXPECT_FALSE(test::exists(root / "log/diskutil.argv"));
}

} // namespace
} // namespace operations
