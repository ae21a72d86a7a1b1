#include "tasks/profiles/KLVProfileUtilityOutputParser.h"

#include <cstdint>
#include <map>
#include <string>

namespace tasks {
namespace {

constexpr std::string_view kComputerLevelGroupPrefix = "_computerlevel";
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

using Attributes = std::map<std::string, std::string, std::less<>>;

bool isBlank(std::string_view line) {
  return line.find_first_not_of(kWhiteSpace) == std::string_view::npos;
}

// The non-empty value of `name`, or none.
std::optional<std::string> nonEmpty(const Attributes& attributes, std::string_view name) {
  auto found = attributes.find(name);
  if (found == attributes.end() || found->second.empty()) {
    return std::nullopt;
  }
  return found->second;
}

// Reads exactly `count` decimal digits at `offset`.
std::optional<int> digits(std::string_view text, size_t offset, size_t count) {
  if (offset + count > text.size()) {
    return std::nullopt;
  }
  int value = 0;
  for (size_t index = offset; index < offset + count; ++index) {
    if (text[index] < '0' || text[index] > '9') {
      return std::nullopt;
    }
    value = value * 10 + (text[index] - '0');
  }
  return value;
}

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The zone offset in seconds east of UTC: "+HHMM", "+HH:MM", "Z" or "GMT".
std::optional<int> parseZone(std::string_view zone) {
  if (zone == "Z" || zone == "GMT" || zone == "UTC") {
    return 0;
  }
  if (zone.size() != 5 && zone.size() != 6) {
    return std::nullopt;
  }
  if (zone[0] != '+' && zone[0] != '-') {
    return std::nullopt;
  }
  const bool withColon = zone.size() == 6;
  if (withColon && zone[3] != ':') {
    return std::nullopt;
  }
  auto hours = digits(zone, 1, 2);
  auto minutes = digits(zone, withColon ? 4 : 3, 2);
  if (!hours || !minutes || *hours > 23 || *minutes > 59) {
    return std::nullopt;
  }
  const int offset = *hours * 3600 + *minutes * 60;
  return zone[0] == '-' ? -offset : offset;
}

} // namespace

KLVProfileUtilityOutputParser::KLVProfileUtilityOutputParser()
    : attributeLine_(
          platform::RegularExpression::make(R"((\S+)\s+attribute:\s+(\S+):\s([\S\s]*))",
                                            platform::RegularExpression::kCaseInsensitive)),
      bracketedNumber_(platform::RegularExpression::make(R"(\[\d+\])")) {}

std::vector<std::shared_ptr<KLVConfigurationProfile>>
KLVProfileUtilityOutputParser::parseConfigurationProfilesFromOutput(std::string_view output) const {
  std::vector<std::shared_ptr<KLVConfigurationProfile>> profiles;
  if (!attributeLine_ || !bracketedNumber_) {
    return profiles;
  }

  std::map<std::string, Attributes, std::less<>> groups;
  size_t lineStart = 0;
  while (lineStart <= output.size()) {
    size_t lineEnd = output.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) {
      lineEnd = output.size();
    }
    const std::string_view line = output.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    // A NUL byte cannot travel in an archived text (it would end it early), so a line that
    // holds one is not taken at all.
    if (isBlank(line) || line.find('\0') != std::string_view::npos) {
      continue;
    }
    auto match = attributeLine_->firstMatch(line);
    if (!match || match->numberOfRanges() != 4) {
      continue;
    }
    auto group = match->group(1);
    auto attribute = match->group(2);
    auto value = match->group(3);
    if (!group || !attribute || !value) {
      continue;
    }
    // A later line of the same group and attribute replaces the earlier value.
    groups[std::string(*group)].insert_or_assign(std::string(*attribute), std::string(*value));
  }

  for (const auto& [groupName, attributes] : groups) {
    auto name = nonEmpty(attributes, "name");
    auto identifier = nonEmpty(attributes, "profileIdentifier");
    auto uuidText = nonEmpty(attributes, "profileUUID");
    auto removalDisallowed = attributes.find("removalDisallowed");
    if (!name || !identifier || !uuidText || removalDisallowed == attributes.end()) {
      continue;
    }
    KLVConfigurationProfile::Fields fields;
    fields.isUnderAdminPrivilege = groupName.starts_with(kComputerLevelGroupPrefix);
    fields.userName =
        fields.isUnderAdminPrivilege ? "root" : bracketedNumber_->replacingMatches(groupName, "");
    // A group named only by a number ("[3]") names no user; its record could not be decoded
    // by the client and would spoil the whole listing.
    if (fields.userName.empty()) {
      continue;
    }
    fields.profileName = std::move(*name);
    fields.profileIdentifier = std::move(*identifier);
    fields.profileUUIDText = std::move(*uuidText);
    fields.isRemovalDisallowed = removalDisallowed->second == "TRUE";
    if (auto date = attributes.find("installationDate"); date != attributes.end()) {
      fields.installationDate = parseInstallationDate(date->second);
    }
    profiles.push_back(std::make_shared<KLVConfigurationProfile>(std::move(fields)));
  }
  return profiles;
}

std::optional<platform::Date>
KLVProfileUtilityOutputParser::parseInstallationDate(std::string_view text) {
  // "yyyy-MM-dd HH:mm:ss " is 20 characters; the zone follows.
  constexpr size_t kZoneOffset = 20;
  if (text.size() <= kZoneOffset || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
      text[13] != ':' || text[16] != ':' || text[19] != ' ') {
    return std::nullopt;
  }
  auto year = digits(text, 0, 4);
  auto month = digits(text, 5, 2);
  auto day = digits(text, 8, 2);
  auto hour = digits(text, 11, 2);
  auto minute = digits(text, 14, 2);
  auto second = digits(text, 17, 2);
  auto zone = parseZone(text.substr(kZoneOffset));
  if (!year || !month || !day || !hour || !minute || !second || !zone) {
    return std::nullopt;
  }
  if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 ||
      *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  const int64_t seconds =
      daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second - *zone;
  return platform::Date::fromTimeIntervalSince1970(static_cast<double>(seconds));
}

} // namespace tasks
