#include "platform/security/ProcessStatus.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace platform::security {

namespace {

// At most this many supplementary groups (the kernel's NGROUPS_MAX).
constexpr size_t kMaxGroups = 65536;

// Splits `text` at blanks (tabs or spaces) into decimal ids.
bool parseIds(std::string_view text, std::vector<uint32_t>& ids, size_t limit) {
  ids.clear();
  while (true) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.remove_prefix(1);
    }
    if (text.empty()) {
      return true;
    }
    if (ids.size() == limit) {
      return false;
    }
    uint32_t id = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || (end != text.data() + text.size() && *end != ' ' && *end != '\t')) {
      return false;
    }
    ids.push_back(id);
    text.remove_prefix(static_cast<size_t>(end - text.data()));
  }
}

bool parseFourIds(std::string_view status, std::string_view name, uint32_t (&out)[4],
                  std::string& reason) {
  auto field = statusField(status, name);
  std::vector<uint32_t> ids;
  if (!field || !parseIds(*field, ids, 4) || ids.size() != 4) {
    reason = "its status has no well-formed " + std::string(name) + " line";
    return false;
  }
  std::copy(ids.begin(), ids.end(), out);
  return true;
}

} // namespace

std::optional<std::string_view> statusField(std::string_view text, std::string_view name) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.size() <= name.size() || line.substr(0, name.size()) != name ||
        line[name.size()] != ':') {
      continue;
    }
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == '\t' || value.front() == ' ')) {
      value.remove_prefix(1);
    }
    return value;
  }
  return std::nullopt;
}

bool ProcessIds::hasSupplementaryGroup(gid_t group) const {
  return std::find(supplementaryGroups.begin(), supplementaryGroups.end(), group) !=
         supplementaryGroups.end();
}

bool ProcessIds::parse(std::string_view status, ProcessIds& ids, std::string& reason) {
  ProcessIds parsed;
  uint32_t uids[4];
  uint32_t gids[4];
  if (!parseFourIds(status, "Uid", uids, reason) || !parseFourIds(status, "Gid", gids, reason)) {
    return false;
  }
  std::copy(std::begin(uids), std::end(uids), parsed.uids);
  std::copy(std::begin(gids), std::end(gids), parsed.gids);
  auto groups = statusField(status, "Groups");
  std::vector<uint32_t> groupIds;
  if (!groups || !parseIds(*groups, groupIds, kMaxGroups)) {
    reason = "its status has no well-formed Groups line";
    return false;
  }
  parsed.supplementaryGroups.assign(groupIds.begin(), groupIds.end());
  ids = std::move(parsed);
  return true;
}

} // namespace platform::security
