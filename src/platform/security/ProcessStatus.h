#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform::security {

// The text after "<name>:" and its blanks on the line of /proc/PID/status (or of another file
// in that "Name:\tvalue" form) that starts with `name`; none when no line does.
std::optional<std::string_view> statusField(std::string_view text, std::string_view name);

// The identities of a process as its /proc/PID/status shows them.
struct ProcessIds {
  // Real, effective, saved and file-system ids, in the kernel's order.
  uid_t uids[4] = {};
  gid_t gids[4] = {};
  std::vector<gid_t> supplementaryGroups;

  gid_t realGroup() const { return gids[0]; }
  gid_t effectiveGroup() const { return gids[1]; }
  bool hasSupplementaryGroup(gid_t group) const;

  // Takes the "Uid:", "Gid:" and "Groups:" lines of `status`. False with a reason when one is
  // missing or is not the kernel's form: four decimal ids, and any number of group ids.
  static bool parse(std::string_view status, ProcessIds& ids, std::string& reason);
};

} // namespace platform::security
