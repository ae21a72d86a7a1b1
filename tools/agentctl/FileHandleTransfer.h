#pragma once

#include "platform/foundation/NSError.h"

#include <string_view>

namespace agentctl {

// Copies everything readable from `descriptor` to `output` (both left open). False with
// `error` when a read or write fails.
bool copyToEnd(int descriptor, int output, platform::NSError* error);
// Writes all of `text` through `descriptor`. False with `error` when a write fails.
bool writeAll(int descriptor, std::string_view text, platform::NSError* error);

} // namespace agentctl
