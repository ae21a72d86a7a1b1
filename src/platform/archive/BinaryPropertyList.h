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

  // One object in 16 bytes, with no allocation of its own: strings and data live in one text
  // arena, container references in one reference arena. A million-entry archive holds some
  // five million objects.
  struct Object {
    uint64_t value = 0; // Boolean, integer (two's complement), UID, the bits of a real or date;
                        // for data and strings the offset into the text arena, for containers
                        // the offset into the reference arena
    uint32_t count = 0; // bytes of data or string; references of a container (a dictionary's
                        // keys followed by its values)
    Type type = Type::boolean;
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
  std::string text_;                 // data and strings (UTF-8), back to back
  std::vector<uint32_t> references_; // the references of all containers, back to back
  uint32_t top_ = 0;
};

} // namespace platform::archive
