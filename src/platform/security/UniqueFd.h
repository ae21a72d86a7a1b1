#pragma once

#include "platform/posix/UniqueFd.h"

namespace platform::security {
using platform::UniqueFd;
} // namespace platform::security
