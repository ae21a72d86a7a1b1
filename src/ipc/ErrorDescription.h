#pragma once

#include <exception>
#include <string>

namespace ipc {

// The text that log lines show for a caught error: the framework's errors in their own
// descriptive form, others by their localized description.
std::string errorDescription(const std::exception_ptr& error);
std::string errorDescription(const std::exception& error);

} // namespace ipc
