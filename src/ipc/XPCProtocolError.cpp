#include "ipc/XPCProtocolError.h"

#include "platform/foundation/ValidUTF8.h"

#include <array>

namespace ipc {
namespace {

using platform::json::Decoder;
using platform::json::Value;

// The case names in declaration order; the index of a name is the index of its case.
constexpr std::array<std::string_view, std::variant_size_v<XPCProtocolError::Case>> kCaseNames = {
    "unauthorized",
    "protocolVersionMismatch",
    "mailformedTransportMessage",
    "messageTypeMismatch",
    "invalidPayloadType",
    "missingPayload",
    "missingSequenceID",
    "timeout",
    "sequenceIsNotRunning",
    "unsupportedRequest",
    "missingRequestHandler",
    "underlyingError",
    "unknown"};

// JSON text must be UTF-8; error texts may quote file names, which need not be.
std::string validUTF8(const std::string& text) {
  return platform::repairingInvalidUTF8(text);
}

Value flagValue(XPCMessageFlag flag) {
  return flag.rawValue;
}

XPCMessageFlag decodeFlag(const Decoder& decoder, std::string_view key) {
  return XPCMessageFlag{decoder.decode<uint32_t>(key)};
}

struct Encode {
  Value& inner;

  void operator()(const XPCProtocolError::Unauthorized&) const {}
  void operator()(const XPCProtocolError::ProtocolVersionMismatch& value) const {
    inner["_0"] = value.version;
  }
  void operator()(const XPCProtocolError::MailformedTransportMessage& value) const {
    inner["_0"] = validUTF8(value.description);
  }
  void operator()(const XPCProtocolError::MessageTypeMismatch& value) const {
    inner["act"] = flagValue(value.act);
    inner["exp"] = flagValue(value.exp);
  }
  void operator()(const XPCProtocolError::InvalidPayloadType& value) const {
    if (value.act) {
      inner["act"] = validUTF8(*value.act);
    }
    inner["exp"] = validUTF8(value.exp);
  }
  void operator()(const XPCProtocolError::MissingPayload&) const {}
  void operator()(const XPCProtocolError::MissingSequenceID&) const {}
  void operator()(const XPCProtocolError::Timeout&) const {}
  void operator()(const XPCProtocolError::SequenceIsNotRunning& value) const {
    inner["_0"] = value.sequenceID.uuidString();
  }
  void operator()(const XPCProtocolError::UnsupportedRequest& value) const {
    inner["_0"] = value.connection.encodeJSON();
    inner["flags"] = flagValue(value.flags);
  }
  void operator()(const XPCProtocolError::MissingRequestHandler& value) const {
    inner["_0"] = validUTF8(value.requestType);
    inner["flag"] = flagValue(value.flag);
  }
  void operator()(const XPCProtocolError::UnderlyingError& value) const {
    inner["_0"] = validUTF8(value.description);
  }
  void operator()(const XPCProtocolError::Unknown&) const {}
};

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string flagDescription(XPCMessageFlag flag) {
  return "IPCProtocol_Static.XPCMessage.Flag(rawValue: " + std::to_string(flag.rawValue) + ")";
}

// The associated values of a case as log lines show them, without the surrounding parentheses.
struct Describe {
  std::string operator()(const XPCProtocolError::ProtocolVersionMismatch& value) const {
    return std::to_string(value.version);
  }
  std::string operator()(const XPCProtocolError::MailformedTransportMessage& value) const {
    return quoted(value.description);
  }
  std::string operator()(const XPCProtocolError::MessageTypeMismatch& value) const {
    return "act: " + flagDescription(value.act) + ", exp: " + flagDescription(value.exp);
  }
  std::string operator()(const XPCProtocolError::InvalidPayloadType& value) const {
    return "act: " + (value.act ? "Optional(" + quoted(*value.act) + ")" : std::string("nil")) +
           ", exp: " + quoted(value.exp);
  }
  std::string operator()(const XPCProtocolError::SequenceIsNotRunning& value) const {
    return value.sequenceID.uuidString();
  }
  std::string operator()(const XPCProtocolError::UnsupportedRequest& value) const {
    return value.connection.description() + ", flags: " + flagDescription(value.flags);
  }
  std::string operator()(const XPCProtocolError::MissingRequestHandler& value) const {
    return quoted(value.requestType) + ", flag: " + flagDescription(value.flag);
  }
  std::string operator()(const XPCProtocolError::UnderlyingError& value) const {
    return quoted(value.description);
  }
  // Cases without values.
  template <class C> std::string operator()(const C&) const { return {}; }
};

XPCProtocolError decodeCase(size_t index, const Decoder& inner) {
  inner.requireObject();
  switch (index) {
  case 0:
    return XPCProtocolError::unauthorized();
  case 1:
    return XPCProtocolError::protocolVersionMismatch(inner.decode<int64_t>("_0"));
  case 2:
    return XPCProtocolError::mailformedTransportMessage(inner.decode<std::string>("_0"));
  case 3:
    return XPCProtocolError::messageTypeMismatch(decodeFlag(inner, "act"),
                                                 decodeFlag(inner, "exp"));
  case 4: {
    auto act = inner.decodeIfPresent<std::string>("act");
    return XPCProtocolError::invalidPayloadType(std::move(act), inner.decode<std::string>("exp"));
  }
  case 5:
    return XPCProtocolError::missingPayload();
  case 6:
    return XPCProtocolError::missingSequenceID();
  case 7:
    return XPCProtocolError::timeout();
  case 8:
    return XPCProtocolError::sequenceIsNotRunning(inner.decode<platform::UUID>("_0"));
  case 9: {
    auto connection = inner.decode<XPCIdentifier<XPCConnectionType>>("_0");
    return XPCProtocolError::unsupportedRequest(connection, decodeFlag(inner, "flags"));
  }
  case 10: {
    auto requestType = inner.decode<std::string>("_0");
    return XPCProtocolError::missingRequestHandler(std::move(requestType),
                                                   decodeFlag(inner, "flag"));
  }
  case 11:
    return XPCProtocolError::underlyingError(inner.decode<std::string>("_0"));
  default:
    return XPCProtocolError::unknown();
  }
}

} // namespace

XPCProtocolError XPCProtocolError::from(const std::exception& error) {
  if (auto* protocolError = dynamic_cast<const XPCProtocolError*>(&error)) {
    return *protocolError;
  }
  return underlyingError(platform::bridgeToNSError(error).localizedDescription());
}

XPCProtocolError XPCProtocolError::from(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& caught) {
    return from(caught);
  } catch (...) {
    return underlyingError(
        platform::bridgeToNSError(std::current_exception()).localizedDescription());
  }
}

std::string_view XPCProtocolError::caseName() const {
  return kCaseNames[case_.index()];
}

std::string XPCProtocolError::description() const {
  std::string values = std::visit(Describe{}, case_);
  std::string text(caseName());
  return values.empty() ? text : text + "(" + values + ")";
}

platform::NSError XPCProtocolError::toNSError() const {
  return platform::NSError::bridged(std::string(reflectingName),
                                    static_cast<int64_t>(case_.index()));
}

Value XPCProtocolError::encodeJSON() const {
  Value inner = Value::object();
  std::visit(Encode{inner}, case_);
  Value object = Value::object();
  object[std::string(caseName())] = std::move(inner);
  return object;
}

XPCProtocolError XPCProtocolError::decodeJSON(const Decoder& decoder) {
  const Value& object = decoder.requireObject();
  size_t found = kCaseNames.size();
  size_t count = 0;
  for (size_t index = 0; index < kCaseNames.size(); ++index) {
    if (object.find(kCaseNames[index]) != object.end()) {
      found = index;
      ++count;
    }
  }
  if (count != 1) {
    throw platform::DecodingError(platform::DecodingError::Kind::typeMismatch, decoder.codingPath(),
                                  "Invalid number of keys found, expected one.");
  }
  return decodeCase(found, decoder.nested(kCaseNames[found]));
}

} // namespace ipc

size_t
std::hash<ipc::XPCProtocolError>::operator()(const ipc::XPCProtocolError& error) const noexcept {
  using ipc::XPCProtocolError;
  size_t seed = error.caseIndex();
  auto mix = [&seed](size_t value) {
    seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
  };
  std::visit(
      [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, XPCProtocolError::ProtocolVersionMismatch>) {
          mix(std::hash<int64_t>()(value.version));
        } else if constexpr (std::is_same_v<T, XPCProtocolError::MailformedTransportMessage> ||
                             std::is_same_v<T, XPCProtocolError::UnderlyingError>) {
          mix(std::hash<std::string>()(value.description));
        } else if constexpr (std::is_same_v<T, XPCProtocolError::MessageTypeMismatch>) {
          mix(value.act.rawValue);
          mix(value.exp.rawValue);
        } else if constexpr (std::is_same_v<T, XPCProtocolError::InvalidPayloadType>) {
          mix(value.act ? std::hash<std::string>()(*value.act) : 0);
          mix(std::hash<std::string>()(value.exp));
        } else if constexpr (std::is_same_v<T, XPCProtocolError::SequenceIsNotRunning>) {
          mix(std::hash<platform::UUID>()(value.sequenceID));
        } else if constexpr (std::is_same_v<T, XPCProtocolError::UnsupportedRequest>) {
          mix(std::hash<platform::UUID>()(value.connection.rawValue));
          mix(value.flags.rawValue);
        } else if constexpr (std::is_same_v<T, XPCProtocolError::MissingRequestHandler>) {
          mix(std::hash<std::string>()(value.requestType));
          mix(value.flag.rawValue);
        }
      },
      error.value());
  return seed;
}
