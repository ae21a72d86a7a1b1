#pragma once

#include "StartDiagnosis.h"

#include <exception>
#include <string>

namespace agentctl {

// Prints "agentctl: " and `text` to standard error and gives `code`, the exit status to use.
int fail(int code, const std::string& text);

// Prints why a request failed to standard error and gives the matching exit code. A request
// that found no connection is explained by what `diagnosis` recorded about the attempt.
int reportFailure(const std::exception_ptr& failure, const StartDiagnosis& diagnosis);

} // namespace agentctl
