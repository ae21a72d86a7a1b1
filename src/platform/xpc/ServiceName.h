#pragma once

#include "platform/foundation/NSError.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::xpc {

// Where service sockets live: a service named N listens at "/var/run/" + N.
inline constexpr std::string_view kServiceSocketDirectory = "/var/run/";

// A service name becomes a file name: 1 to 98 characters of letters, digits, '.', '_' and
// '-', not starting with '.'. Nothing else may reach a path.
bool isValidServiceName(std::string_view name);

// "/var/run/" + name, or none with an error for an invalid name.
std::optional<std::string> socketPathForService(std::string_view name, NSError* error);

} // namespace platform::xpc
