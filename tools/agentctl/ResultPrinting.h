#pragma once

#include "platform/foundation/NSError.h"
#include "tasks/model/KLVResultObject.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace agentctl {

// A task's result as the agent sent it: the decoded object and its one-line JSON form.
struct DecodedResult {
  std::shared_ptr<tasks::KLVResultObject> result;
  // One line of JSON: {"error": {"code","domain","userInfo"} or null, "type": N,
  // "typeText": "...", "value": ...}
  std::string text;
};

// Decodes an archived KLVResultObject with secure coding (any registered class may stand in
// its value) and renders it. `descriptors` are those that came with the reply; decoded file
// handles hold duplicates of them. None with `error` when the archive is refused.
std::optional<DecodedResult> decodeResult(std::span<const uint8_t> archive,
                                          std::span<const int> descriptors,
                                          platform::NSError* error);

} // namespace agentctl
