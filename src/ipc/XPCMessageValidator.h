#pragma once

#include "ipc/XPCMessage.h"

namespace ipc {

// Looks at a received message before anything is unwrapped: error messages become thrown
// errors, messages of the wrong kind are rejected.
class XPCMessageValidator {
public:
  // For a message that must carry a payload. Throws the carried error (or `unknown` when an
  // error message carries none), or `messageTypeMismatch` with `exp` = payload.
  const XPCMessage& validate(const XPCMessage& message) const;
  // The same for an acknowledge, with `exp` = acknowledge.
  const XPCMessage& validateAcknowledge(const XPCMessage& message) const;

private:
  const XPCMessage& validate(const XPCMessage& message, XPCMessage::Flag expected) const;
};

} // namespace ipc
