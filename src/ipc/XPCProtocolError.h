#pragma once

#include "ipc/XPCIdentifier.h"
#include "ipc/XPCMessageFlag.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/UUID.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace ipc {

// The one error that crosses the wire, and the error every framework operation throws. Its
// cases, in declaration order (the order is the case index of its platform error form):
class XPCProtocolError : public platform::BridgedError {
public:
  // 0: a message from a client that has not passed the handshake.
  struct Unauthorized {
    bool operator==(const Unauthorized&) const = default;
  };
  // 1: a message whose "version" is not 1.
  struct ProtocolVersionMismatch {
    int64_t version = 0;
    bool operator==(const ProtocolVersionMismatch&) const = default;
  };
  // 2: a message that could not be encoded or decoded.
  struct MailformedTransportMessage {
    std::string description;
    bool operator==(const MailformedTransportMessage&) const = default;
  };
  // 3: a message of the wrong kind.
  struct MessageTypeMismatch {
    XPCMessageFlag act;
    XPCMessageFlag exp;
    bool operator==(const MessageTypeMismatch&) const = default;
  };
  // 4: a payload of another type than expected.
  struct InvalidPayloadType {
    std::optional<std::string> act;
    std::string exp;
    bool operator==(const InvalidPayloadType&) const = default;
  };
  // 5
  struct MissingPayload {
    bool operator==(const MissingPayload&) const = default;
  };
  // 6
  struct MissingSequenceID {
    bool operator==(const MissingSequenceID&) const = default;
  };
  // 7: no reply within the caller's time limit.
  struct Timeout {
    bool operator==(const Timeout&) const = default;
  };
  // 8: a sequence message for a sequence that is not running.
  struct SequenceIsNotRunning {
    platform::UUID sequenceID;
    bool operator==(const SequenceIsNotRunning&) const = default;
  };
  // 9: no strategy for a message's flags.
  struct UnsupportedRequest {
    XPCIdentifier<XPCConnectionType> connection;
    XPCMessageFlag flags;
    bool operator==(const UnsupportedRequest&) const = default;
  };
  // 10: no handler registered for the payload's type name.
  struct MissingRequestHandler {
    std::string requestType;
    XPCMessageFlag flag;
    bool operator==(const MissingRequestHandler&) const = default;
  };
  // 11: any other failure, carried as its localized description.
  struct UnderlyingError {
    std::string description;
    bool operator==(const UnderlyingError&) const = default;
  };
  // 12: an error message that arrived without an error value.
  struct Unknown {
    bool operator==(const Unknown&) const = default;
  };

  using Case = std::variant<Unauthorized, ProtocolVersionMismatch, MailformedTransportMessage,
                            MessageTypeMismatch, InvalidPayloadType, MissingPayload,
                            MissingSequenceID, Timeout, SequenceIsNotRunning, UnsupportedRequest,
                            MissingRequestHandler, UnderlyingError, Unknown>;

  static constexpr std::string_view reflectingName = "IPCProtocol_Static.XPCProtocolError";

  explicit XPCProtocolError(Case value) : case_(std::move(value)) {}

  static XPCProtocolError unauthorized() { return XPCProtocolError(Unauthorized{}); }
  static XPCProtocolError protocolVersionMismatch(int64_t version) {
    return XPCProtocolError(ProtocolVersionMismatch{version});
  }
  static XPCProtocolError mailformedTransportMessage(std::string description) {
    return XPCProtocolError(MailformedTransportMessage{std::move(description)});
  }
  static XPCProtocolError messageTypeMismatch(XPCMessageFlag act, XPCMessageFlag exp) {
    return XPCProtocolError(MessageTypeMismatch{act, exp});
  }
  static XPCProtocolError invalidPayloadType(std::optional<std::string> act, std::string exp) {
    return XPCProtocolError(InvalidPayloadType{std::move(act), std::move(exp)});
  }
  static XPCProtocolError missingPayload() { return XPCProtocolError(MissingPayload{}); }
  static XPCProtocolError missingSequenceID() { return XPCProtocolError(MissingSequenceID{}); }
  static XPCProtocolError timeout() { return XPCProtocolError(Timeout{}); }
  static XPCProtocolError sequenceIsNotRunning(platform::UUID sequenceID) {
    return XPCProtocolError(SequenceIsNotRunning{sequenceID});
  }
  static XPCProtocolError unsupportedRequest(XPCIdentifier<XPCConnectionType> connection,
                                             XPCMessageFlag flags) {
    return XPCProtocolError(UnsupportedRequest{connection, flags});
  }
  static XPCProtocolError missingRequestHandler(std::string requestType, XPCMessageFlag flag) {
    return XPCProtocolError(MissingRequestHandler{std::move(requestType), flag});
  }
  static XPCProtocolError underlyingError(std::string description) {
    return XPCProtocolError(UnderlyingError{std::move(description)});
  }
  static XPCProtocolError unknown() { return XPCProtocolError(Unknown{}); }

  // Any failure as a protocol error: an XPCProtocolError stays as it is, anything else becomes
  // `underlyingError` with the failure's localized description.
  static XPCProtocolError from(const std::exception& error);
  static XPCProtocolError from(const std::exception_ptr& error);

  const Case& value() const { return case_; }
  // The case index, 0 to 12.
  size_t caseIndex() const { return case_.index(); }
  // The case's name, which is also its key on the wire.
  std::string_view caseName() const;
  template <class C> bool is() const { return std::holds_alternative<C>(case_); }
  template <class C> const C* as() const { return std::get_if<C>(&case_); }

  // The text that log lines show, e.g. `messageTypeMismatch(act: ...Flag(rawValue: 2), exp: ...)`.
  std::string description() const;

  // Bridges as "IPCProtocol_Static.XPCProtocolError" with the case index as code.
  platform::NSError toNSError() const override;

  bool operator==(const XPCProtocolError& other) const { return case_ == other.case_; }

  // {"<case name>": {<associated values>}}
  platform::json::Value encodeJSON() const;
  // Exactly one key must name a case; otherwise a type mismatch "Invalid number of keys found,
  // expected one.".
  static XPCProtocolError decodeJSON(const platform::json::Decoder& decoder);

private:
  Case case_;
};

} // namespace ipc

template <> struct std::hash<ipc::XPCProtocolError> {
  size_t operator()(const ipc::XPCProtocolError& error) const noexcept;
};
