#include "tasks/cron/KLVCronjobService.h"
#include "tasks/cron/KLVCronjobUtilityOutputParser.h"

#include <gtest/gtest.h>

using namespace tasks;
using Paths = std::vector<std::string>;

namespace {

std::shared_ptr<KLVCronjobRecord> parseLine(std::string_view line) {
  return KLVCronjobUtilityOutputParser().parseCronjobRecordFromLine(line);
}

} // namespace

TEST(CronjobParser, RebootAliasLineNamesItsScript) {
  auto record = parseLine("  @reboot /Users/me/bin/start.sh\r");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->source(), "@reboot /Users/me/bin/start.sh");
  EXPECT_EQ(record->schedulerPattern(), "@reboot");
  EXPECT_EQ(record->commandText(), "/Users/me/bin/start.sh");
  EXPECT_EQ(record->executablePaths(), Paths{"/Users/me/bin/start.sh"});

  auto upper = parseLine("@DAILY /opt/x");
  ASSERT_NE(upper, nullptr);
  EXPECT_EQ(upper->schedulerPattern(), "@DAILY");
}

TEST(CronjobParser, StepMinuteWithFourStarsDropsTheNullDevice) {
  auto record = parseLine("*/15 * * * * /usr/local/bin/backup --quiet > /dev/null 2>&1");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->schedulerPattern(), "*/15 * * * *");
  EXPECT_EQ(record->commandText(), "/usr/local/bin/backup --quiet > /dev/null 2>&1");
  EXPECT_EQ(record->executablePaths(), Paths{"/usr/local/bin/backup"});

  auto lists = parseLine("0,30 9-17 1 jan-jun mon-fri cd /tmp && ./run");
  ASSERT_NE(lists, nullptr);
  EXPECT_EQ(lists->schedulerPattern(), "0,30 9-17 1 jan-jun mon-fri");
  EXPECT_EQ(lists->executablePaths(), (Paths{"/tmp", "/run"}));
}

TEST(CronjobParser, CommentsAssignmentsAndBlankLinesGiveNothing) {
  const std::string text = "# m h dom mon dow command\n"
                           "MAILTO=admin@example.com\n"
                           "PATH=/usr/bin:/bin\n"
                           "SHELL = /bin/sh\n"
                           "\n   \t\n"
                           "   # indented comment\n"
                           "@hourly /bin/one\n"
                           "5 4 * * sun /bin/two";
  auto records = KLVCronjobUtilityOutputParser().parseCronjobRecordsFromOutput(text);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]->source(), "@hourly /bin/one");
  EXPECT_EQ(records[1]->source(), "5 4 * * sun /bin/two");
  EXPECT_EQ(parseLine("@sometimes /bin/x"), nullptr);
}

TEST(CronjobParser, QuotedVariableTildeAndEscapedPaths) {
  auto record = parseLine(R"(0 * * * * "${HOME}/My Scripts/run.sh" ~/bin/tool )"
                          R"(/Volumes/Data\ Disk/job '/opt/quoted one')");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->executablePaths(), (Paths{"${HOME}/My Scripts/run.sh", "~/bin/tool",
                                              "/Volumes/Data Disk/job", "/opt/quoted one"}));
  auto variable = parseLine("@weekly $TOOLS/clean --all");
  ASSERT_NE(variable, nullptr);
  EXPECT_EQ(variable->executablePaths(), Paths{"$TOOLS/clean"});
}

TEST(CronjobRemoval, OnlyWholeEqualLinesGoAndNoBlankLineStays) {
  const std::string text = "0 * * * * /bin/job --extra\n"
                           "0 * * * * /bin/job\n"
                           "@daily /bin/other\n";
  EXPECT_EQ(KLVCronjobService::removingCronjobSource(text, "0 * * * * /bin/job"),
            "0 * * * * /bin/job --extra\n@daily /bin/other\n");
  // The first and the last line, the latter without a line break, and trimmed forms.
  EXPECT_EQ(KLVCronjobService::removingCronjobSource("  @daily /x \r\nB\n", "@daily /x"), "B\n");
  EXPECT_EQ(KLVCronjobService::removingCronjobSource("A\n@daily /x", " @daily /x"), "A\n");
  // Blank lines elsewhere are collapsed as well.
  EXPECT_EQ(KLVCronjobService::removingCronjobSource("A\n\nX\nB\n", "X"), "A\nB\n");
  EXPECT_EQ(KLVCronjobService::removingCronjobSource("A\n/bin/job\n", "/bin/jo"), std::nullopt);
  EXPECT_EQ(KLVCronjobService::removingCronjobSource("A\n\n", "  "), std::nullopt);
}
