#pragma once

#include "platform/foundation/JSON.h"
#include "platform/foundation/NSError.h"
#include "tasks/model/KLVResultObject.h"

#include <cstdint>
#include <memory>
#include <span>

namespace agentctl {

// A task's result as the agent sent it: the decoded object and its one-line JSON form.
struct DecodedResult {
  std::shared_ptr<tasks::KLVResultObject> result;
  // {"type": N, "typeText": "...", "value": ..., "error": {"domain","code","userInfo"} or null}
  platform::json::Value json;
};

// Decodes an archived KLVResultObject with secure coding (any registered class may stand in
// its value) and renders it. `descriptors` are those that came with the reply; decoded file
// handles hold duplicates of them. None with `error` when the archive is refused.
std::optional<DecodedResult> decodeResult(std::span<const uint8_t> archive,
                                          std::span<const int> descriptors,
                                          platform::NSError* error);

} // namespace agentctl
