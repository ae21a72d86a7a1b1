#pragma once

#include "platform/foundation/NSError.h"
#include "platform/xpc/UniqueFd.h"

#include <string>

namespace platform::xpc {

// The listening sockets that a service manager hands a process it starts on demand: with
// LISTEN_PID naming this process and LISTEN_FDS=N, descriptors 3 to 3+N-1 are open sockets.
//
// Takes the one of them that is a Unix stream socket listening at `path` into `socket`
// (close-on-exec and non-blocking), and closes the others. Leaves `socket` empty and gives
// true when none was handed over (the caller binds the path itself). Gives false with `error`
// when sockets were handed over but none is the expected one: a unit that hands the wrong
// socket must fail the start, not be bypassed. The variables are removed either way, so that
// no child inherits them.
bool takeActivatedSocket(const std::string& path, UniqueFd& socket, NSError* error);

} // namespace platform::xpc
