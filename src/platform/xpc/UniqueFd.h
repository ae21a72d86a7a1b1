#pragma once

#include "platform/posix/UniqueFd.h"

namespace platform::xpc {
using platform::UniqueFd;
} // namespace platform::xpc
