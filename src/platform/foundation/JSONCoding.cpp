#include "platform/foundation/JSONCoding.h"

#include <algorithm>

namespace platform::json {
namespace {

std::string typeNameOf(const Value& value) {
  switch (value.type()) {
  case Value::value_t::null:
    return "a null value";
  case Value::value_t::boolean:
    return "bool";
  case Value::value_t::number_integer:
  case Value::value_t::number_unsigned:
  case Value::value_t::number_float:
    return "number";
  case Value::value_t::string:
    return "a string";
  case Value::value_t::array:
    return "an array";
  case Value::value_t::object:
    return "a dictionary";
  default:
    return "data";
  }
}

} // namespace

std::vector<std::string> Decoder::codingPath() const {
  std::vector<std::string> path;
  for (const Decoder* step = this; step != nullptr && step->parent_ != nullptr;
       step = step->parent_) {
    path.push_back(step->index_ ? "Index " + std::to_string(*step->index_)
                                : std::string(step->key_));
  }
  std::reverse(path.begin(), path.end());
  return path;
}

void Decoder::typeMismatch(std::string_view expectedType) const {
  if (value_.is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound, codingPath(),
                        "Expected " + std::string(expectedType) + " value but found null instead.");
  }
  throw DecodingError(DecodingError::Kind::typeMismatch, codingPath(),
                      "Expected to decode " + std::string(expectedType) + " but found " +
                          typeNameOf(value_) + " instead.");
}

void Decoder::dataCorrupted(std::string debugDescription) const {
  throw DecodingError(DecodingError::Kind::dataCorrupted, codingPath(),
                      std::move(debugDescription));
}

const Value& Decoder::requireObject() const {
  if (!value_.is_object()) {
    typeMismatch("Dictionary<String, Any>");
  }
  return value_;
}

const Value& Decoder::requireArray() const {
  if (!value_.is_array()) {
    typeMismatch("Array<Any>");
  }
  return value_;
}

Decoder Decoder::element(const Value& element, size_t index) const {
  return Decoder(element, this, index);
}

bool Decoder::contains(std::string_view key) const {
  return value_.is_object() && value_.find(key) != value_.end();
}

Decoder Decoder::member(std::string_view key) const {
  const Value& object = requireObject();
  auto it = object.find(key);
  if (it == object.end()) {
    throw DecodingError(DecodingError::Kind::keyNotFound, codingPath(),
                        "No value associated with key CodingKeys(stringValue: \"" +
                            std::string(key) + "\", intValue: nil) (\"" + std::string(key) +
                            "\").");
  }
  return Decoder(*it, this, key);
}

bool Coding<bool>::decode(const Decoder& decoder) {
  if (!decoder.value().is_boolean()) {
    decoder.typeMismatch("Bool");
  }
  return decoder.value().get<bool>();
}

std::string Coding<std::string>::decode(const Decoder& decoder) {
  if (!decoder.value().is_string()) {
    decoder.typeMismatch("String");
  }
  return decoder.value().get<std::string>();
}

double Coding<double>::decode(const Decoder& decoder) {
  if (!decoder.value().is_number()) {
    decoder.typeMismatch("Double");
  }
  return decoder.value().get<double>();
}

Bytes Coding<Bytes>::decode(const Decoder& decoder) {
  if (!decoder.value().is_string()) {
    decoder.typeMismatch("String");
  }
  // Decoded from the document's own text: a reply's payload runs to hundreds of megabytes.
  auto bytes = base64Decode(decoder.value().get_ref<const std::string&>());
  if (!bytes) {
    decoder.dataCorrupted("Encountered Data is not valid Base64.");
  }
  return std::move(*bytes);
}

UUID Coding<UUID>::decode(const Decoder& decoder) {
  std::string text = Coding<std::string>::decode(decoder);
  auto uuid = UUID::fromString(text);
  if (!uuid) {
    decoder.dataCorrupted("Attempted to decode UUID from invalid UUID string.");
  }
  return *uuid;
}

URL Coding<URL>::decode(const Decoder& decoder) {
  std::string text = Coding<std::string>::decode(decoder);
  auto url = URL::fromString(text);
  if (!url) {
    decoder.dataCorrupted("Invalid URL string.");
  }
  return *url;
}

} // namespace platform::json

namespace platform {

const json::JSONEncoder& sharedJSONEncoder() {
  static const json::JSONEncoder encoder;
  return encoder;
}

const json::JSONDecoder& sharedJSONDecoder() {
  static const json::JSONDecoder decoder;
  return decoder;
}

} // namespace platform
