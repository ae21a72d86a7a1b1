#include "ipc/ErrorDescription.h"

#include "ipc/SecurityErrors.h"
#include "ipc/XPCConnectionError.h"
#include "ipc/XPCProtocolError.h"
#include "platform/foundation/DecodingError.h"

namespace ipc {

std::string errorDescription(const std::exception& error) {
  if (auto* protocol = dynamic_cast<const XPCProtocolError*>(&error)) {
    return protocol->description();
  }
  if (auto* security = dynamic_cast<const SecurityErrors*>(&error)) {
    return security->description();
  }
  if (auto* connection = dynamic_cast<const XPCConnectionError*>(&error)) {
    return connection->description();
  }
  if (auto* decoding = dynamic_cast<const platform::DecodingError*>(&error)) {
    return decoding->localizedDescription() + " (" + decoding->debugDescription() + ")";
  }
  return error.what();
}

std::string errorDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& caught) {
    return errorDescription(caught);
  } catch (...) {
    return "unknown error";
  }
}

} // namespace ipc
