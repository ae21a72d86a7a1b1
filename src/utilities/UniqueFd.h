#pragma once

#include "platform/foundation/UniqueFd.h"

namespace utilities {
using platform::UniqueFd;
} // namespace utilities
