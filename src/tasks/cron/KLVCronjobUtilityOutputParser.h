#pragma once

#include "tasks/model/KLVCronjobRecord.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tasks {

// Reads crontab text into records: one per line that has a five-field schedule or an "@"
// keyword schedule; comments, environment assignments and blank lines give nothing. Every
// expression runs on a linear-time engine, so a hostile crontab costs time in proportion to
// its length.
class KLVCronjobUtilityOutputParser {
public:
  std::vector<std::shared_ptr<KLVCronjobRecord>>
  parseCronjobRecordsFromOutput(std::string_view text) const;

  // The record of one line; null when the line is no job.
  std::shared_ptr<KLVCronjobRecord> parseCronjobRecordFromLine(std::string_view line) const;

  // The paths of the programs and files that `command` names, quotes removed and escaped
  // spaces restored, without "/dev/null".
  std::vector<std::string> executablePathsFromCommand(std::string_view command) const;

  // `line` without leading and trailing white space: the form in which a line is a job's
  // source, and in which lines are compared when a job is removed.
  static std::string_view trimmedLine(std::string_view line);
};

} // namespace tasks
