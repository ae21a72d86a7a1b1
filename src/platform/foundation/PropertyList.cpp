#include "platform/foundation/PropertyList.h"

#include <limits>
#include <plist/plist.h>

namespace platform {

void PropertyList::Free::operator()(plist_t node) const {
  plist_free(node);
}

PlistRef::Type PlistRef::type() const {
  if (node_ == nullptr) {
    return Type::none;
  }
  switch (plist_get_node_type(node_)) {
  case PLIST_BOOLEAN:
    return Type::boolean;
  case PLIST_UINT:
    return Type::integer;
  case PLIST_REAL:
    return Type::real;
  case PLIST_STRING:
    return Type::string;
  case PLIST_ARRAY:
    return Type::array;
  case PLIST_DICT:
    return Type::dictionary;
  case PLIST_DATE:
    return Type::date;
  case PLIST_DATA:
    return Type::data;
  case PLIST_UID:
    return Type::uid;
  default:
    return Type::other;
  }
}

std::optional<std::string> PlistRef::stringValue() const {
  if (type() != Type::string) {
    return std::nullopt;
  }
  char* value = nullptr;
  plist_get_string_val(node_, &value);
  if (value == nullptr) {
    return std::string();
  }
  std::string out(value);
  free(value);
  return out;
}

std::optional<bool> PlistRef::boolValue() const {
  if (type() != Type::boolean) {
    return std::nullopt;
  }
  uint8_t value = 0;
  plist_get_bool_val(node_, &value);
  return value != 0;
}

std::optional<uint64_t> PlistRef::unsignedValue() const {
  if (type() != Type::integer) {
    return std::nullopt;
  }
  uint64_t value = 0;
  plist_get_uint_val(node_, &value);
  return value;
}

std::optional<double> PlistRef::realValue() const {
  if (type() != Type::real) {
    return std::nullopt;
  }
  double value = 0;
  plist_get_real_val(node_, &value);
  return value;
}

std::optional<std::vector<uint8_t>> PlistRef::dataValue() const {
  if (type() != Type::data) {
    return std::nullopt;
  }
  char* value = nullptr;
  uint64_t length = 0;
  plist_get_data_val(node_, &value, &length);
  std::vector<uint8_t> out(value, value + length);
  free(value);
  return out;
}

std::optional<uint64_t> PlistRef::uidValue() const {
  if (type() != Type::uid) {
    return std::nullopt;
  }
  uint64_t value = 0;
  plist_get_uid_val(node_, &value);
  return value;
}

size_t PlistRef::arraySize() const {
  return type() == Type::array ? plist_array_get_size(node_) : 0;
}

PlistRef PlistRef::arrayItem(size_t index) const {
  if (index >= arraySize()) {
    return PlistRef();
  }
  return PlistRef(plist_array_get_item(node_, static_cast<uint32_t>(index)));
}

size_t PlistRef::dictionarySize() const {
  return type() == Type::dictionary ? plist_dict_get_size(node_) : 0;
}

PlistRef PlistRef::operator[](std::string_view key) const {
  if (type() != Type::dictionary) {
    return PlistRef();
  }
  return PlistRef(plist_dict_get_item(node_, std::string(key).c_str()));
}

std::vector<std::string> PlistRef::dictionaryKeys() const {
  std::vector<std::string> keys;
  if (type() != Type::dictionary) {
    return keys;
  }
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(node_, &iterator);
  while (true) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node_, iterator, &key, &value);
    if (key == nullptr) {
      break;
    }
    keys.emplace_back(key);
    free(key);
  }
  free(iterator);
  return keys;
}

PropertyList::PropertyList(plist_t root) : root_(root) {}

PropertyList PropertyList::dictionary() {
  return PropertyList(plist_new_dict());
}
PropertyList PropertyList::array() {
  return PropertyList(plist_new_array());
}

std::optional<PropertyList> PropertyList::parse(std::string_view bytes, NSError* error) {
  auto fail = [&]() -> std::optional<PropertyList> {
    setError(error, NSError(NSCocoaErrorDomain, NSPropertyListReadCorruptError,
                            {{NSDebugDescriptionErrorKey,
                              std::string("The data is not a property list.")}}));
    return std::nullopt;
  };
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) {
    return fail();
  }
  plist_t root = nullptr;
  const auto length = static_cast<uint32_t>(bytes.size());
  if (plist_is_binary(bytes.data(), length) != 0) {
    plist_from_bin(bytes.data(), length, &root);
  } else {
    plist_from_xml(bytes.data(), length, &root);
  }
  if (root == nullptr) {
    return fail();
  }
  return PropertyList(root);
}

std::string PropertyList::toXML() const {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root_.get(), &xml, &length);
  std::string out(xml != nullptr ? xml : "", length);
  plist_to_xml_free(xml);
  return out;
}

std::string PropertyList::toBinary() const {
  char* binary = nullptr;
  uint32_t length = 0;
  plist_to_bin(root_.get(), &binary, &length);
  std::string out(binary != nullptr ? binary : "", length);
  plist_to_bin_free(binary);
  return out;
}

void PropertyList::setString(std::string_view key, std::string_view value) {
  plist_dict_set_item(root_.get(), std::string(key).c_str(),
                      plist_new_string(std::string(value).c_str()));
}

void PropertyList::setUnsigned(std::string_view key, uint64_t value) {
  plist_dict_set_item(root_.get(), std::string(key).c_str(), plist_new_uint(value));
}

void PropertyList::setBool(std::string_view key, bool value) {
  plist_dict_set_item(root_.get(), std::string(key).c_str(), plist_new_bool(value ? 1 : 0));
}

void PropertyList::set(std::string_view key, PropertyList value) {
  plist_dict_set_item(root_.get(), std::string(key).c_str(), value.release());
}

void PropertyList::appendUnsigned(uint64_t value) {
  plist_array_append_item(root_.get(), plist_new_uint(value));
}

void PropertyList::appendString(std::string_view value) {
  plist_array_append_item(root_.get(), plist_new_string(std::string(value).c_str()));
}

void PropertyList::append(PropertyList value) {
  plist_array_append_item(root_.get(), value.release());
}

} // namespace platform
