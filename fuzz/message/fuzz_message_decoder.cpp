// Feeds arbitrary bytes to the message decoder and to the decoders of the values that travel
// inside messages. Every input must either decode or fail with the decoder's own error; whatever
// decodes must survive an encode/decode round trip unchanged.

#include "api/AddUserToAllowedList.h"
#include "api/FileMoveRequest.h"
#include "api/FileSizeRequest.h"
#include "api/HealthCheckResponse.h"
#include "api/PrivilegedAccessTaskRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/HandshakePayload.h"
#include "ipc/Result.h"
#include "ipc/XPCMessageJSONEncoder.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void decodeMessage(std::string_view bytes) {
  const ipc::XPCMessageJSONEncoder encoder;
  ipc::XPCMessage message;
  try {
    message = encoder.decode(bytes);
  } catch (const ipc::XPCProtocolError& error) {
    require(error.is<ipc::XPCProtocolError::ProtocolVersionMismatch>() ||
            error.is<ipc::XPCProtocolError::MailformedTransportMessage>());
    return;
  }
  require(message.version == ipc::kXPCProtocolVersion);
  ipc::XPCMessage again = encoder.decode(encoder.encode(message));
  require(again == message);
}

// Decodes T from the bytes; when that works, its encoding must decode to an equal value.
template <class T> void roundTrip(std::string_view bytes) {
  std::optional<T> value;
  try {
    value.emplace(platform::sharedJSONDecoder().decode<T>(bytes));
  } catch (const platform::DecodingError&) {
    return;
  }
  std::string encoded = platform::sharedJSONEncoder().encode(*value);
  require(platform::sharedJSONDecoder().decode<T>(encoded) == *value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  decodeMessage(bytes);
  roundTrip<ipc::XPCProtocolError>(bytes);
  roundTrip<ipc::HandshakePayload>(bytes);
  roundTrip<ipc::Result<bool, api::PrivilegedOperationError>>(bytes);
  roundTrip<api::FileSizeRequest>(bytes);
  roundTrip<api::FileMoveRequest>(bytes);
  roundTrip<api::AddUserToAllowedList>(bytes);
  roundTrip<api::PrivilegedAccessTaskRequest>(bytes);
  roundTrip<api::HealthCheckResponse>(bytes);
  return 0;
}
