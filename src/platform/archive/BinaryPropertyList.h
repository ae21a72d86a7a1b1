#pragma once

#include "platform/archive/ArchiveLimits.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::archive {

// A binary property list read into a flat table of objects, one per object of the file, with
// containers holding indexes into that table. Shared references stay shared, and every access
// is constant time (libplist's trees walk linked lists for each index, which turns large
// archives into quadratic work). The bytes are checked by validateBinaryPropertyList first.
class BinaryPropertyList {
public:
  enum class Type : uint8_t { boolean, integer, real, date, data, string, uid, array, dictionary };

  struct Object {
    Type type = Type::boolean;
    uint64_t scalar = 0;              // Boolean, integer (two's complement) or UID
    double real = 0;                  // real or date
    std::string bytes;                // data, or a string in UTF-8
    std::vector<uint32_t> references; // array items, or dictionary keys followed by values
  };

  // A view of one object, or of nothing (absent key, index out of range).
  class Ref {
  public:
    Ref() = default;
    Ref(const BinaryPropertyList* list, uint32_t index) : list_(list), index_(index) {}

    bool isNull() const { return list_ == nullptr; }
    std::optional<Type> type() const;
    bool is(Type type) const { return this->type() == type; }

    std::optional<std::string_view> stringValue() const;
    std::optional<bool> boolValue() const;
    std::optional<uint64_t> integerValue() const;
    std::optional<double> realValue() const;
    std::optional<std::string_view> dataValue() const;
    std::optional<uint64_t> uidValue() const;

    size_t arraySize() const;
    Ref arrayItem(size_t index) const;
    size_t dictionarySize() const;
    Ref dictionaryKey(size_t index) const;
    Ref dictionaryValue(size_t index) const;
    // The member under `key`: a linear scan, which keyed archives keep short.
    Ref operator[](std::string_view key) const;

  private:
    const Object* object() const;
    const BinaryPropertyList* list_ = nullptr;
    uint32_t index_ = 0;
  };

  // Reads `bytes`; none with `fault` set when they are not an acceptable binary property list.
  static std::optional<BinaryPropertyList> read(std::span<const uint8_t> bytes,
                                                const ArchiveLimits& limits, std::string& fault);

  Ref top() const { return Ref(this, top_); }

private:
  std::vector<Object> objects_;
  uint32_t top_ = 0;
};

} // namespace platform::archive
