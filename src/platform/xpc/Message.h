#pragma once

#include "platform/foundation/Base64.h"
#include "platform/xpc/UniqueFd.h"

#include <vector>

namespace platform::xpc {

// What one frame carries: opaque payload bytes (the JSON of one message) and the descriptors
// that travel with it. Sending hands the descriptors over (they are closed once sent).
struct Message {
  Bytes payload;
  std::vector<UniqueFd> descriptors;
};

} // namespace platform::xpc
