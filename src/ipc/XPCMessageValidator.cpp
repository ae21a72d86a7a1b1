#include "ipc/XPCMessageValidator.h"

namespace ipc {

const XPCMessage& XPCMessageValidator::validate(const XPCMessage& message) const {
  return validate(message, XPCMessage::Flag::payload());
}

const XPCMessage& XPCMessageValidator::validateAcknowledge(const XPCMessage& message) const {
  return validate(message, XPCMessage::Flag::acknowledge());
}

const XPCMessage& XPCMessageValidator::validate(const XPCMessage& message,
                                                XPCMessage::Flag expected) const {
  // The error bit wins over every other bit; a payload beside it is ignored.
  if (message.flags.contains(XPCMessage::Flag::error())) {
    if (message.error) {
      throw *message.error;
    }
    throw XPCProtocolError::unknown();
  }
  if (message.flags.contains(expected)) {
    return message;
  }
  throw XPCProtocolError::messageTypeMismatch(message.flags, expected);
}

} // namespace ipc
