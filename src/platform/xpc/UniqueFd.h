#pragma once

#include "platform/foundation/UniqueFd.h"

namespace platform::xpc {
using platform::UniqueFd;
} // namespace platform::xpc
