#pragma once

#include "ipc/HandshakePayload.h"

#include <optional>
#include <string>
#include <string_view>

namespace ipc {

// A string of the running program's embedded Info property list; none without the list or
// the key.
std::optional<std::string> mainBundleInfoString(std::string_view key);

// What a client program says about itself in the handshake: the folder of its executable, and
// the bundle identifier and version of its embedded Info property list; no bookmark. Throws
// HandshakePayload::Errors when the list lacks either.
HandshakePayload mainBundleHandshakePayload();

} // namespace ipc
