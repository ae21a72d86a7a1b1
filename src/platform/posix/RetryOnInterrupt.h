#pragma once

#include <cerrno>
#include <type_traits>
#include <utility>

namespace platform::posix {

// Calls `call` again for as long as it fails with EINTR, and returns its last result. A call
// fails when it returns -1 (or any negative number), as the system calls do; errno is then
// left as the call set it.
template <typename Call> auto retryOnInterrupt(Call&& call) -> decltype(call()) {
  static_assert(std::is_integral_v<decltype(call())>, "retryOnInterrupt wraps system calls");
  for (;;) {
    auto result = call();
    if (!(result < 0 && errno == EINTR)) {
      return result;
    }
  }
}

} // namespace platform::posix
