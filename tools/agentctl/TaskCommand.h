#pragma once

#include <string_view>
#include <vector>

namespace agentctl {

// `agentctl task [--read | --write TEXT] CLASS [JSON]` and `agentctl task --list`: builds the
// task object of CLASS from JSON, sends it archived in a PrivilegedAccessTaskRequest, and
// prints the decoded result as one JSON line. Returns the exit code.
int runTaskCommand(const std::vector<std::string_view>& arguments);

} // namespace agentctl
