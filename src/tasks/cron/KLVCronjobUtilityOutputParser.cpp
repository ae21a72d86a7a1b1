#include "tasks/cron/KLVCronjobUtilityOutputParser.h"

#include "platform/foundation/RegularExpression.h"
#include "utilities/Log.h"

#include <optional>

namespace tasks {

using platform::RegularExpression;

namespace {

// One schedule field: an optional "*", an optional "/" and a list or range of values.
constexpr std::string_view kFieldPattern = R"((\*?\/?[\w\d,\-]*))";

// Five fields (minute, hour, day of month, month, day of week), each followed by one white
// space character, then the command.
std::string generalPattern() {
  std::string pattern = "^";
  for (int field = 0; field < 5; ++field) {
    pattern += kFieldPattern;
    pattern += R"(\s)";
  }
  return pattern + "(.+)";
}

constexpr std::string_view kAliasedPattern =
    R"(^(@reboot|@yearly|@annually|@monthly|@weekly|@daily|@hourly)\s(.+))";

// Quoted paths (which may hold "${NAME}" variables and spaces) or unquoted ones (which may
// start with "$NAME" or "~" and hold backslash-escaped spaces).
constexpr std::string_view kFilePathPattern =
    R"re(["']((\$\{[\w\d\_]+\})|~)?(\/([\w\d\_\-\.]?(\$\{[\w\d\_]+\})?( )?)+)+["']|((\$[\w\d\_]+)|~)?(\/([\$\w\d\_\-\.]+(\\ )?)+)+)re";

constexpr std::string_view kExcludedPath = "/dev/null";

struct Expressions {
  std::optional<RegularExpression> general;
  std::optional<RegularExpression> aliased;
  std::optional<RegularExpression> filePath;
};

const Expressions& expressions() {
  static const Expressions compiled = [] {
    Expressions made{
        RegularExpression::make(generalPattern(), RegularExpression::kCaseInsensitive),
        RegularExpression::make(kAliasedPattern, RegularExpression::kCaseInsensitive),
        RegularExpression::make(kFilePathPattern, RegularExpression::kCaseInsensitive)};
    if (!made.general || !made.aliased || !made.filePath) {
      utilities::log("Cron job expressions failed to compile");
    }
    return made;
  }();
  return compiled;
}

bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string cleanedPath(std::string_view match) {
  std::string path;
  path.reserve(match.size());
  for (size_t i = 0; i < match.size(); ++i) {
    const char c = match[i];
    if (c == '"' || c == '\'') {
      continue;
    }
    if (c == '\\' && i + 1 < match.size() && match[i + 1] == ' ') {
      path += ' ';
      ++i;
      continue;
    }
    path += c;
  }
  return path;
}

} // namespace

std::string_view KLVCronjobUtilityOutputParser::trimmedLine(std::string_view line) {
  while (!line.empty() && isWhiteSpace(line.front())) {
    line.remove_prefix(1);
  }
  while (!line.empty() && isWhiteSpace(line.back())) {
    line.remove_suffix(1);
  }
  return line;
}

std::vector<std::shared_ptr<KLVCronjobRecord>>
KLVCronjobUtilityOutputParser::parseCronjobRecordsFromOutput(std::string_view text) const {
  std::vector<std::shared_ptr<KLVCronjobRecord>> records;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    if (auto record = parseCronjobRecordFromLine(text.substr(start, end - start))) {
      records.push_back(std::move(record));
    }
    start = end + 1;
  }
  return records;
}

std::shared_ptr<KLVCronjobRecord>
KLVCronjobUtilityOutputParser::parseCronjobRecordFromLine(std::string_view line) const {
  const std::string_view source = trimmedLine(line);
  if (source.empty() || source.front() == '#') {
    return nullptr;
  }
  const Expressions& compiled = expressions();
  if (!compiled.general || !compiled.aliased) {
    return nullptr;
  }

  std::string schedulerPattern;
  std::optional<std::string_view> command;
  if (auto match = compiled.general->firstMatch(source); match && match->numberOfRanges() == 7) {
    for (size_t field = 1; field <= 5; ++field) {
      if (field > 1) {
        schedulerPattern += ' ';
      }
      schedulerPattern += match->group(field).value_or("");
    }
    command = match->group(6);
  } else if (auto alias = compiled.aliased->firstMatch(source);
             alias && alias->numberOfRanges() == 3) {
    schedulerPattern = alias->group(1).value_or("");
    command = alias->group(2);
  }
  if (!command) {
    return nullptr;
  }
  return std::make_shared<KLVCronjobRecord>(std::string(source), std::move(schedulerPattern),
                                            std::string(*command),
                                            executablePathsFromCommand(*command));
}

std::vector<std::string>
KLVCronjobUtilityOutputParser::executablePathsFromCommand(std::string_view command) const {
  std::vector<std::string> paths;
  const Expressions& compiled = expressions();
  if (!compiled.filePath) {
    return paths;
  }
  for (const auto& match : compiled.filePath->matches(command)) {
    std::string path = cleanedPath(match.group(0).value_or(""));
    if (path != kExcludedPath) {
      paths.push_back(std::move(path));
    }
  }
  return paths;
}

} // namespace tasks
