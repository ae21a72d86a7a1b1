#pragma once

#include "platform/posix/UniqueFd.h"

namespace utilities {
using platform::UniqueFd;
} // namespace utilities
