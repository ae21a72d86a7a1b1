// Parses arbitrary crontab text as the cron job service does (only UTF-8 text is parsed) and
// removes a job from it, checking what must hold whatever the text: every record comes from
// a trimmed job line, "/dev/null" is never an executable path, and after a removal no line
// equal to the removed source is left and no record with that source parses again.
// The first line of the input names the source to remove; the rest is the crontab.
#include "platform/foundation/URL.h"
#include "tasks/cron/KLVCronjobService.h"
#include "tasks/cron/KLVCronjobUtilityOutputParser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using tasks::KLVCronjobService;
using tasks::KLVCronjobUtilityOutputParser;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool hasLineEqualTo(std::string_view text, std::string_view wanted) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    if (KLVCronjobUtilityOutputParser::trimmedLine(text.substr(start, end - start)) == wanted) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

void checkRemoval(const KLVCronjobUtilityOutputParser& parser, std::string_view text,
                  std::string_view source) {
  const std::string_view wanted = KLVCronjobUtilityOutputParser::trimmedLine(source);
  auto remaining = KLVCronjobService::removingCronjobSource(text, source);
  if (!remaining) {
    check(wanted.empty() || !hasLineEqualTo(text, wanted));
    return;
  }
  check(remaining->size() < text.size());
  check(!hasLineEqualTo(*remaining, wanted));
  for (const auto& record : parser.parseCronjobRecordsFromOutput(*remaining)) {
    check(record->source() != wanted);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!platform::isValidUTF8(input)) {
    return 0;
  }
  const size_t firstBreak = input.find('\n');
  const std::string_view source = input.substr(0, firstBreak);
  const std::string_view text =
      firstBreak == std::string_view::npos ? std::string_view() : input.substr(firstBreak + 1);

  const KLVCronjobUtilityOutputParser parser;
  const auto records = parser.parseCronjobRecordsFromOutput(text);
  for (const auto& record : records) {
    const std::string& line = record->source();
    check(!line.empty() && line.front() != '#');
    check(KLVCronjobUtilityOutputParser::trimmedLine(line) == line);
    check(line.find('\n') == std::string::npos);
    check(line.find(record->commandText()) != std::string::npos);
    for (const auto& path : record->executablePaths()) {
      check(path != "/dev/null" && !path.empty());
    }
  }

  checkRemoval(parser, text, source);
  // Removing a job that was parsed from the text always finds its line.
  if (!records.empty()) {
    const std::string& parsed = records[size % records.size()]->source();
    check(KLVCronjobService::removingCronjobSource(text, parsed).has_value());
    checkRemoval(parser, text, parsed);
  }
  return 0;
}
