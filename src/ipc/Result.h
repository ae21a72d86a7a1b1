#pragma once

#include "ipc/PayloadTypeName.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/JSONCoding.h"

#include <string>
#include <utility>
#include <variant>

namespace ipc {

// The two-case result of an operation: a success value or a failure value. On the wire it is an
// object with exactly one of the keys "success" or "failure".
template <class Value, class Failure> class Result {
public:
  static Result success(Value value) { return Result(std::in_place_index<0>, std::move(value)); }
  static Result failure(Failure error) { return Result(std::in_place_index<1>, std::move(error)); }

  bool isSuccess() const { return storage_.index() == 0; }
  const Value& value() const { return std::get<0>(storage_); }
  const Failure& error() const { return std::get<1>(storage_); }

  bool operator==(const Result& other) const {
    if (storage_.index() != other.storage_.index()) {
      return false;
    }
    return isSuccess() ? value() == other.value() : error() == other.error();
  }

  platform::json::Value encodeJSON() const {
    platform::json::Value object = platform::json::Value::object();
    if (isSuccess()) {
      object["success"] = platform::json::Coding<Value>::encode(value());
    } else {
      object["failure"] = platform::json::Coding<Failure>::encode(error());
    }
    return object;
  }

  // Tries "success" first, then "failure"; when neither decodes, the data is corrupt.
  static Result decodeJSON(const platform::json::Decoder& decoder) {
    const platform::json::Value& object = decoder.requireObject();
    try {
      return success(decoder.decode<Value>("success"));
    } catch (const std::exception&) {
    }
    try {
      return failure(decoder.decode<Failure>("failure"));
    } catch (const std::exception&) {
    }
    decoder.dataCorrupted("error value dump " + dump(object));
  }

private:
  template <size_t Index, class Argument>
  Result(std::in_place_index_t<Index> index, Argument&& argument)
      : storage_(index, std::forward<Argument>(argument)) {}

  // The container's content for the error text, cut short so that a hostile reply cannot make
  // the error itself huge.
  static std::string dump(const platform::json::Value& object) {
    static constexpr size_t kMaximumDumpLength = 512;
    std::string text = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > kMaximumDumpLength) {
      text.resize(kMaximumDumpLength);
      while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
        text.pop_back(); // do not leave half a character behind
      }
      if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) {
        text.pop_back();
      }
      text.append("…");
    }
    return text;
  }

  std::variant<Value, Failure> storage_;
};

template <class Value, class Failure> struct ReflectingName<Result<Value, Failure>> {
  static std::string make() {
    return "Swift.Result<" + reflectingName<Value>() + ", " + reflectingName<Failure>() + ">";
  }
};

} // namespace ipc
