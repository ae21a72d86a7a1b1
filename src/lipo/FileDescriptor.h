#pragma once

#include "platform/posix/UniqueFd.h"

namespace lipo {
// An owned descriptor of a file the thinning reads or writes.
using FileDescriptor = platform::UniqueFd;
} // namespace lipo
