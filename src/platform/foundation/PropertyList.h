#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef void* plist_t;

namespace platform {

// A read-only view of one node inside a PropertyList. Valid while the owning list lives.
class PlistRef {
public:
  enum class Type {
    none,
    boolean,
    integer,
    real,
    string,
    array,
    dictionary,
    date,
    data,
    uid,
    other
  };

  explicit PlistRef(plist_t node = nullptr) : node_(node) {}

  bool isNull() const { return node_ == nullptr; }
  Type type() const;

  std::optional<std::string> stringValue() const;
  std::optional<bool> boolValue() const;
  // Integers as stored (libplist keeps them as unsigned 64-bit words).
  std::optional<uint64_t> unsignedValue() const;
  std::optional<double> realValue() const;
  std::optional<std::vector<uint8_t>> dataValue() const;
  std::optional<uint64_t> uidValue() const;

  size_t arraySize() const;
  PlistRef arrayItem(size_t index) const;
  size_t dictionarySize() const;
  // The member `key` of a dictionary; a null reference when absent or not a dictionary.
  PlistRef operator[](std::string_view key) const;
  std::vector<std::string> dictionaryKeys() const;

  plist_t raw() const { return node_; }

private:
  plist_t node_;
};

// An owned property list tree (XML or binary form) built on libplist.
class PropertyList {
public:
  PropertyList() = default;
  // Takes ownership of `root`.
  explicit PropertyList(plist_t root);
  PropertyList(PropertyList&&) noexcept = default;
  PropertyList& operator=(PropertyList&&) noexcept = default;

  static PropertyList dictionary();
  static PropertyList array();

  // Parses XML or binary property list bytes; none (with an error) when they are neither.
  static std::optional<PropertyList> parse(std::string_view bytes, NSError* error = nullptr);

  PlistRef root() const { return PlistRef(root_.get()); }
  bool isNull() const { return root_ == nullptr; }

  std::string toXML() const;
  std::string toBinary() const;

  // Building: each call adds a new node under the root (a dictionary or an array).
  void setString(std::string_view key, std::string_view value);
  void setUnsigned(std::string_view key, uint64_t value);
  void setBool(std::string_view key, bool value);
  void set(std::string_view key, PropertyList value);
  void appendUnsigned(uint64_t value);
  void appendString(std::string_view value);
  void append(PropertyList value);

  // Gives up ownership of the root node.
  plist_t release() { return root_.release(); }

private:
  struct Free {
    void operator()(plist_t node) const;
  };
  std::unique_ptr<void, Free> root_;
};

} // namespace platform
