#pragma once

#include <cerrno>

namespace platform::posix {

// Fails with `error`: sets errno to it and returns it, as the helpers here that return an
// errno value do.
inline int failWithErrno(int error) {
  errno = error;
  return error;
}

} // namespace platform::posix
