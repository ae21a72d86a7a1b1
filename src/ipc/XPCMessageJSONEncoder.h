#pragma once

#include "ipc/XPCMessageEncoderType.h"
#include "platform/foundation/JSONCoding.h"

namespace ipc {

// The transport encoder: JSON with sorted keys through the process-wide encoder and decoder.
class XPCMessageJSONEncoder final : public XPCMessageEncoderType {
public:
  XPCMessageJSONEncoder()
      : encoder_(platform::sharedJSONEncoder()), decoder_(platform::sharedJSONDecoder()) {}
  XPCMessageJSONEncoder(const platform::json::JSONEncoder& encoder,
                        const platform::json::JSONDecoder& decoder)
      : encoder_(encoder), decoder_(decoder) {}

  platform::Bytes encode(const XPCMessage& message) const override;
  // The same bytes; the message's payload is freed as soon as the document holds it, so that a
  // reply of hundreds of megabytes is not held three times at once.
  platform::Bytes encode(XPCMessage&& message) const;
  using XPCMessageEncoderType::decode;
  XPCMessage decode(std::string_view bytes) const override;

private:
  const platform::json::JSONEncoder& encoder_;
  const platform::json::JSONDecoder& decoder_;
};

} // namespace ipc
