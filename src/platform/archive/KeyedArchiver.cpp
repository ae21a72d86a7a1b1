#include "platform/archive/KeyedArchiver.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/KeyedArchiveFormat.h"
#include "platform/archive/Values.h"

#include <cstring>

namespace platform::archive {
namespace {

// Deeper object graphs than this are refused, as the unarchiver would refuse them.
constexpr size_t kMaxEncodingDepth = 256;

} // namespace

KeyedArchiver::KeyedArchiver(bool requiresSecureCoding)
    : requiresSecureCoding_(requiresSecureCoding) {
  append(writer_.addString("$null"));
}

uint64_t KeyedArchiver::append(uint32_t node) {
  objects_.push_back(node);
  return objects_.size() - 1;
}

void KeyedArchiver::set(std::string_view key, uint32_t node) {
  if (encoding_.empty()) {
    // Encode calls outside encodeWithCoder have no object to write into.
    failWithError(invalidValueError("encode call for key '" + std::string(key) +
                                    "' outside of an object being encoded"));
    return;
  }
  writer_.setMember(encoding_.back(), key, node);
}

void KeyedArchiver::encodeObject(const ObjectPtr& object, std::string_view key) {
  const uint64_t uid = reference(object);
  set(key, writer_.addUID(uid));
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
  set(key, writer_.addBool(value));
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
  set(key, writer_.addInteger(value));
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
  set(key, writer_.addReal(value));
}

void KeyedArchiver::encodeBytes(const Bytes& bytes, std::string_view key) {
  set(key, writer_.addData(bytes.data(), bytes.size()));
}

void KeyedArchiver::encodeString(std::string_view value, std::string_view key) {
  // Straight to the shared string entry: no string object is made for a plain text field.
  set(key, writer_.addUID(stringReference(value)));
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
  std::vector<uint32_t> items;
  items.reserve(objects.size());
  for (const auto& object : objects) {
    if (object == nullptr) {
      failWithError(invalidValueError("a collection cannot hold a null object"));
      break;
    }
    items.push_back(writer_.addUID(reference(object)));
  }
  set(key, writer_.addArray(std::move(items)));
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

uint64_t KeyedArchiver::stringReference(std::string_view value) {
  // The writer keeps each text once; its node identifies the text here.
  const uint32_t node = writer_.addString(value);
  auto [entry, added] = stringReferences_.try_emplace(node, 0);
  if (added) {
    entry->second = append(node);
  }
  return entry->second;
}

uint64_t KeyedArchiver::inlineReference(const Object& object) {
  const ObjectClass& objectClass = object.objectClass();
  if (&objectClass == &NSString::classObject()) {
    return stringReference(static_cast<const NSString&>(object).value());
  }
  if (&objectClass == &NSNumber::classObject()) {
    const auto* number = static_cast<const NSNumber*>(&object);
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
    uint32_t node = 0;
    if (auto* flag = std::get_if<bool>(&value)) {
      node = writer_.addBool(*flag);
    } else if (auto* real = std::get_if<double>(&value)) {
      node = writer_.addReal(*real);
    } else {
      node = writer_.addInteger(integer);
    }
    const uint64_t uid = append(node);
    numberReferences_.emplace(key, uid);
    return uid;
  }
  const auto& bytes = static_cast<const NSData&>(object).bytes();
  const uint64_t uid = append(writer_.addData(bytes.data(), bytes.size()));
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
  // Strings, numbers and data stand inline as plain property-list values. Their classes are
  // final, so comparing the class is exact (and cheaper than a cast that fails).
  const ObjectClass& objectClass = object->objectClass();
  if (&objectClass == &NSString::classObject() || &objectClass == &NSNumber::classObject() ||
      &objectClass == &NSData::classObject()) {
    retained_.push_back(object);
    return inlineReference(*object);
  }
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
  const uint32_t dictionary = writer_.addDictionary();
  const uint64_t uid = append(dictionary);
  objectReferences_.emplace(object.get(), uid);
  retained_.push_back(object);
  encoding_.push_back(dictionary);
  object->encodeWithCoder(*this);
  encoding_.pop_back();
  writer_.setMember(dictionary, "$class", writer_.addUID(classReference(objectClass)));
  return uid;
}

uint64_t KeyedArchiver::classReference(const ObjectClass& objectClass) {
  auto found = classReferences_.find(&objectClass);
  if (found != classReferences_.end()) {
    return found->second;
  }
  std::vector<uint32_t> classes;
  for (const auto& name : objectClass.classChain()) {
    classes.push_back(writer_.addString(name));
  }
  const uint32_t record = writer_.addDictionary();
  writer_.setMember(record, "$classes", writer_.addArray(std::move(classes)));
  writer_.setMember(record, "$classname", writer_.addString(objectClass.name()));
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
  const uint32_t top = writer_.addDictionary();
  writer_.setMember(top, "root", writer_.addUID(rootUID));
  const uint32_t archive = writer_.addDictionary();
  writer_.setMember(archive, "$version", writer_.addInteger(kKeyedArchiveVersion));
  writer_.setMember(archive, "$archiver", writer_.addString(kKeyedArchiverName));
  writer_.setMember(archive, "$top", top);
  writer_.setMember(archive, "$objects", writer_.addArray(objects_));
  return writer_.write(archive);
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
