#pragma once

#include "platform/foundation/Base64.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/DecodingError.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace platform::json {

template <class T> struct Coding;

// A read position in a JSON document: the value and the way to it. The path is rebuilt only
// when an error is reported, so that decoding valid input costs nothing for it.
class Decoder {
public:
  explicit Decoder(const Value& value) : value_(value) {}

  const Value& value() const { return value_; }
  std::vector<std::string> codingPath() const;

  // The value itself as T.
  template <class T> T decode() const { return Coding<T>::decode(*this); }

  // The member `key` as T: absent gives keyNotFound, null gives valueNotFound.
  template <class T> T decode(std::string_view key) const { return Coding<T>::decode(member(key)); }
  // The member `key` as T, none when it is absent or null.
  template <class T> std::optional<T> decodeIfPresent(std::string_view key) const {
    const Value& object = requireObject();
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
      return std::nullopt;
    }
    return Coding<T>::decode(Decoder(*it, this, key));
  }

  bool contains(std::string_view key) const;
  // The member `key`, which must be present and not null.
  Decoder nested(std::string_view key) const { return member(key); }
  // The value as an object; typeMismatch otherwise.
  const Value& requireObject() const;
  // The value as an array; typeMismatch otherwise.
  const Value& requireArray() const;
  // The element at `index` of an array (bounds already checked by the caller).
  Decoder element(const Value& element, size_t index) const;

  [[noreturn]] void typeMismatch(std::string_view expectedType) const;
  [[noreturn]] void dataCorrupted(std::string debugDescription) const;

private:
  Decoder(const Value& value, const Decoder* parent, std::string_view key)
      : value_(value), parent_(parent), key_(key) {}
  Decoder(const Value& value, const Decoder* parent, size_t index)
      : value_(value), parent_(parent), index_(index) {}
  Decoder member(std::string_view key) const;

  const Value& value_;
  const Decoder* parent_ = nullptr;
  std::string_view key_;
  std::optional<size_t> index_;
};

// Records take part in coding through two members:
//   Value encodeJSON() const;  static T decodeJSON(const Decoder&);
template <class T>
concept JSONRecord = requires(const T& value, const Decoder& decoder) {
  { value.encodeJSON() } -> std::convertible_to<Value>;
  { T::decodeJSON(decoder) } -> std::convertible_to<T>;
};

template <JSONRecord T> struct Coding<T> {
  static Value encode(const T& value) { return value.encodeJSON(); }
  static T decode(const Decoder& decoder) { return T::decodeJSON(decoder); }
};

template <class T> Value encode(const T& value) {
  return Coding<T>::encode(value);
}

template <> struct Coding<bool> {
  static Value encode(bool value) { return value; }
  static bool decode(const Decoder& decoder);
};

template <> struct Coding<std::string> {
  static Value encode(const std::string& value) { return value; }
  static std::string decode(const Decoder& decoder);
};

// Integers are range-checked: a number that does not fit the type is an error, never wrapped.
template <std::integral T>
requires(!std::same_as<T, bool>) struct Coding<T> {
  static Value encode(T value) { return value; }
  static T decode(const Decoder& decoder) {
    const Value& value = decoder.value();
    if (value.is_number_unsigned()) {
      uint64_t number = value.get<uint64_t>();
      if (number > static_cast<uint64_t>(std::numeric_limits<T>::max())) {
        decoder.dataCorrupted("Parsed JSON number <" + std::to_string(number) + "> does not fit.");
      }
      return static_cast<T>(number);
    }
    if (value.is_number_integer()) {
      int64_t number = value.get<int64_t>();
      if constexpr (std::is_unsigned_v<T>) {
        if (number < 0) {
          decoder.dataCorrupted("Parsed JSON number <" + std::to_string(number) +
                                "> does not fit.");
        }
      } else if (number < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
                 number > static_cast<int64_t>(std::numeric_limits<T>::max())) {
        decoder.dataCorrupted("Parsed JSON number <" + std::to_string(number) + "> does not fit.");
      }
      return static_cast<T>(number);
    }
    if (value.is_number_float()) {
      double number = value.get<double>();
      // A float that holds an exact integer in range is accepted, as the platform does.
      if (std::trunc(number) == number &&
          number >= static_cast<double>(std::numeric_limits<T>::min()) &&
          number < static_cast<double>(std::numeric_limits<T>::max())) {
        return static_cast<T>(number);
      }
      decoder.dataCorrupted("Parsed JSON number <" + std::to_string(number) + "> does not fit.");
    }
    decoder.typeMismatch("integer");
  }
};

template <> struct Coding<double> {
  static Value encode(double value) { return value; }
  static double decode(const Decoder& decoder);
};

// Bytes travel as standard Base64 with padding.
template <> struct Coding<Bytes> {
  static Value encode(const Bytes& value) { return base64Encode(value); }
  static Bytes decode(const Decoder& decoder);
};

template <> struct Coding<UUID> {
  static Value encode(const UUID& value) { return value.uuidString(); }
  static UUID decode(const Decoder& decoder);
};

template <> struct Coding<URL> {
  static Value encode(const URL& value) { return value.absoluteString(); }
  static URL decode(const Decoder& decoder);
};

// Dates travel as seconds since 1 January 2001.
template <> struct Coding<Date> {
  static Value encode(const Date& value) { return value.timeIntervalSinceReferenceDate(); }
  static Date decode(const Decoder& decoder) {
    return Date::fromTimeIntervalSinceReferenceDate(Coding<double>::decode(decoder));
  }
};

template <class T> struct Coding<std::vector<T>> {
  static Value encode(const std::vector<T>& values) {
    Value array = Value::array();
    for (const auto& value : values) {
      array.push_back(Coding<T>::encode(value));
    }
    return array;
  }
  static std::vector<T> decode(const Decoder& decoder) {
    const Value& array = decoder.requireArray();
    std::vector<T> out;
    out.reserve(array.size());
    for (size_t i = 0; i < array.size(); ++i) {
      out.push_back(Coding<T>::decode(decoder.element(array[i], i)));
    }
    return out;
  }
};

// The process's JSON encoder: sorted keys, the platform's default strategies.
class JSONEncoder {
public:
  template <class T> std::string encode(const T& value) const {
    return write(Coding<T>::encode(value));
  }
};

// The process's JSON decoder: accepts any valid JSON, then decodes T from it.
class JSONDecoder {
public:
  template <class T> T decode(std::string_view bytes) const {
    Value document = parse(bytes);
    return Coding<T>::decode(Decoder(document));
  }
};

} // namespace platform::json

namespace platform {
// The process-wide encoder and decoder that every message and payload uses.
const json::JSONEncoder& sharedJSONEncoder();
const json::JSONDecoder& sharedJSONDecoder();
} // namespace platform
