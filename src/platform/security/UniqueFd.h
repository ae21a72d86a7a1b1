#pragma once

#include "platform/foundation/UniqueFd.h"

namespace platform::security {
using platform::UniqueFd;
} // namespace platform::security
