#include "platform/archive/KeyedArchiver.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/Values.h"

#include <cstring>
#include <plist/plist.h>

namespace platform::archive {
namespace {

constexpr uint64_t kArchiveVersion = 100000;
// Deeper object graphs than this are refused, as the unarchiver would refuse them.
constexpr size_t kMaxEncodingDepth = 256;

} // namespace

KeyedArchiver::KeyedArchiver(bool requiresSecureCoding)
    : requiresSecureCoding_(requiresSecureCoding), objects_(plist_new_array()) {
  plist_array_append_item(objects_, plist_new_string("$null"));
}

KeyedArchiver::~KeyedArchiver() {
  plist_free(objects_);
}

uint64_t KeyedArchiver::append(plist_t node) {
  plist_array_append_item(objects_, node);
  return plist_array_get_size(objects_) - 1;
}

void KeyedArchiver::set(std::string_view key, plist_t node) {
  if (encoding_.empty()) {
    // Encode calls outside encodeWithCoder have no object to write into.
    plist_free(node);
    failWithError(invalidValueError("encode call for key '" + std::string(key) +
                                    "' outside of an object being encoded"));
    return;
  }
  plist_dict_set_item(encoding_.back(), std::string(key).c_str(), node);
}

void KeyedArchiver::encodeObject(const ObjectPtr& object, std::string_view key) {
  const uint64_t uid = reference(object);
  set(key, plist_new_uid(uid));
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
  set(key, plist_new_bool(value ? 1 : 0));
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
  // Eight-byte integers are signed in the binary form, so negative values survive.
  set(key, plist_new_uint(static_cast<uint64_t>(value)));
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
  set(key, plist_new_real(value));
}

void KeyedArchiver::encodeBytes(const Bytes& bytes, std::string_view key) {
  set(key, plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void KeyedArchiver::encodeString(std::string value, std::string_view key) {
  encodeObject(NSString::make(std::move(value)), key);
}

void KeyedArchiver::encodeURL(const URL& value, std::string_view key) {
  auto object = NSURL::make(value);
  retained_.push_back(object);
  encodeObject(object, key);
}

void KeyedArchiver::encodeUUID(const UUID& value, std::string_view key) {
  auto object = NSUUID::make(value);
  retained_.push_back(object);
  encodeObject(object, key);
}

void KeyedArchiver::encodeDate(const Date& value, std::string_view key) {
  auto object = NSDate::make(value);
  retained_.push_back(object);
  encodeObject(object, key);
}

void KeyedArchiver::encodeData(Bytes value, std::string_view key) {
  encodeObject(NSData::make(std::move(value)), key);
}

void KeyedArchiver::encodeArrayOfObjects(const std::vector<ObjectPtr>& objects,
                                         std::string_view key) {
  plist_t array = plist_new_array();
  for (const auto& object : objects) {
    if (object == nullptr) {
      failWithError(invalidValueError("a collection cannot hold a null object"));
      break;
    }
    plist_array_append_item(array, plist_new_uid(reference(object)));
  }
  set(key, array);
}

ObjectPtr KeyedArchiver::sharedObject(const void* identity,
                                      const std::function<ObjectPtr()>& make) {
  auto found = sharedObjects_.find(identity);
  if (found != sharedObjects_.end()) {
    return found->second;
  }
  ObjectPtr object = make();
  sharedObjects_.emplace(identity, object);
  return object;
}

int64_t KeyedArchiver::encodeFileDescriptor(int descriptor) {
  fileDescriptors_.push_back(descriptor);
  return static_cast<int64_t>(fileDescriptors_.size() - 1);
}

void KeyedArchiver::failWithError(NSError error) {
  if (!error_) {
    error_ = std::move(error);
  }
}

uint64_t KeyedArchiver::inlineReference(const Object& object) {
  if (auto* string = dynamic_cast<const NSString*>(&object)) {
    auto found = stringReferences_.find(string->value());
    if (found != stringReferences_.end()) {
      return found->second;
    }
    const uint64_t uid = append(plist_new_string(string->value().c_str()));
    stringReferences_.emplace(string->value(), uid);
    return uid;
  }
  if (auto* number = dynamic_cast<const NSNumber*>(&object)) {
    const auto& value = number->value();
    uint64_t bits = 0;
    int64_t integer = 0;
    if (auto* real = std::get_if<double>(&value)) {
      std::memcpy(&bits, real, sizeof bits);
    } else {
      integer = number->int64Value();
    }
    const auto key = std::make_tuple(value.index(), integer, bits);
    auto found = numberReferences_.find(key);
    if (found != numberReferences_.end()) {
      return found->second;
    }
    plist_t node = nullptr;
    if (auto* flag = std::get_if<bool>(&value)) {
      node = plist_new_bool(*flag ? 1 : 0);
    } else if (auto* real = std::get_if<double>(&value)) {
      node = plist_new_real(*real);
    } else {
      node = plist_new_uint(static_cast<uint64_t>(integer));
    }
    const uint64_t uid = append(node);
    numberReferences_.emplace(key, uid);
    return uid;
  }
  const auto& bytes = static_cast<const NSData&>(object).bytes();
  const uint64_t uid =
      append(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  objectReferences_.emplace(&object, uid);
  return uid;
}

uint64_t KeyedArchiver::reference(const ObjectPtr& object) {
  if (object == nullptr || error_) {
    return 0;
  }
  auto found = objectReferences_.find(object.get());
  if (found != objectReferences_.end()) {
    return found->second;
  }
  // Strings, numbers and data stand inline as plain property-list values.
  if (dynamic_cast<const NSString*>(object.get()) || dynamic_cast<const NSNumber*>(object.get()) ||
      dynamic_cast<const NSData*>(object.get())) {
    retained_.push_back(object);
    return inlineReference(*object);
  }
  const ObjectClass& objectClass = object->objectClass();
  if (requiresSecureCoding_ && !objectClass.supportsSecureCoding()) {
    failWithError(invalidValueError("Class '" + objectClass.name() +
                                    "' does not adopt NSSecureCoding; this archiver requires "
                                    "secure coding"));
    return 0;
  }
  if (encoding_.size() >= kMaxEncodingDepth) {
    failWithError(invalidValueError("object graph nested too deeply to archive"));
    return 0;
  }
  plist_t dictionary = plist_new_dict();
  const uint64_t uid = append(dictionary);
  objectReferences_.emplace(object.get(), uid);
  retained_.push_back(object);
  encoding_.push_back(dictionary);
  object->encodeWithCoder(*this);
  encoding_.pop_back();
  plist_dict_set_item(dictionary, "$class", plist_new_uid(classReference(objectClass)));
  return uid;
}

uint64_t KeyedArchiver::classReference(const ObjectClass& objectClass) {
  auto found = classReferences_.find(&objectClass);
  if (found != classReferences_.end()) {
    return found->second;
  }
  plist_t record = plist_new_dict();
  plist_t classes = plist_new_array();
  for (const auto& name : objectClass.classChain()) {
    plist_array_append_item(classes, plist_new_string(name.c_str()));
  }
  plist_dict_set_item(record, "$classes", classes);
  plist_dict_set_item(record, "$classname", plist_new_string(objectClass.name().c_str()));
  const uint64_t uid = append(record);
  classReferences_.emplace(&objectClass, uid);
  return uid;
}

std::optional<Bytes> KeyedArchiver::finishEncoding(const ObjectPtr& root, NSError* error) {
  if (root == nullptr) {
    failWithError(invalidValueError("the root object is null"));
  }
  const uint64_t rootUID = reference(root);
  if (error_) {
    setError(error, *error_);
    return std::nullopt;
  }
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(rootUID));
  plist_t archive = plist_new_dict();
  plist_dict_set_item(archive, "$version", plist_new_uint(kArchiveVersion));
  plist_dict_set_item(archive, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_dict_set_item(archive, "$top", top);
  plist_dict_set_item(archive, "$objects", objects_);
  objects_ = plist_new_array();
  char* binary = nullptr;
  uint32_t length = 0;
  plist_to_bin(archive, &binary, &length);
  plist_free(archive);
  if (binary == nullptr) {
    setError(error, invalidValueError("the property list could not be written"));
    return std::nullopt;
  }
  Bytes bytes(reinterpret_cast<const uint8_t*>(binary),
              reinterpret_cast<const uint8_t*>(binary) + length);
  plist_to_bin_free(binary);
  return bytes;
}

std::optional<Bytes> archivedDataWithRootObject(const ObjectPtr& root, bool requiringSecureCoding,
                                                NSError* error, std::vector<int>* fileDescriptors) {
  try {
    KeyedArchiver archiver(requiringSecureCoding);
    auto bytes = archiver.finishEncoding(root, error);
    if (!bytes) {
      return std::nullopt;
    }
    if (!archiver.fileDescriptors().empty()) {
      if (fileDescriptors == nullptr) {
        setError(error, invalidValueError("file handles can only be archived together with a "
                                          "channel that carries their descriptors"));
        return std::nullopt;
      }
      *fileDescriptors = archiver.fileDescriptors();
    }
    return bytes;
  } catch (const std::exception& exception) {
    setError(error, invalidValueError(exception.what()));
    return std::nullopt;
  }
}

} // namespace platform::archive
