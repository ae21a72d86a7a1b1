#pragma once

#include "platform/foundation/NSError.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace utilities {

// Writes one line to standard error, the general logging call of the utility classes.
// `format` uses the platform's placeholders: each "%@" or "%d" takes the next argument in order.
// Control characters inside the arguments are escaped so that an untrusted path cannot forge
// a second log line.
void log(std::string_view format, std::initializer_list<std::string_view> arguments = {});

// The text that "%@" prints for a list of texts, in the platform's array description form.
std::string describeList(const std::vector<std::string>& items);

// The text that "%@" prints for an error: its domain, code and description.
std::string describeError(const platform::NSError& error);

// Renders `text` with control characters and invalid UTF-8 bytes escaped.
std::string escapeForLog(std::string_view text);

} // namespace utilities
