#include "platform/archive/KeyedUnarchiver.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/KeyedArchiveFormat.h"
#include "platform/archive/Values.h"
#include "platform/posix/HugePages.h"

#include <cmath>

namespace platform::archive {
namespace {

using Type = BinaryPropertyList::Type;

bool isInlineValue(std::optional<Type> type) {
  return type == Type::string || type == Type::integer || type == Type::real ||
         type == Type::boolean || type == Type::data;
}

std::string classNames(const ClassSet& classes) {
  std::string names;
  for (const ObjectClass* objectClass : classes) {
    if (objectClass != nullptr) {
      names += (names.empty() ? "" : ", ") + objectClass->name();
    }
  }
  return names;
}

} // namespace

struct KeyedUnarchiver::Entry {
  enum class State : uint8_t { unvisited, decoding, done };
  State state = State::unvisited;
  bool isClassRecord = false;
  // For an object: its class; for a class record: the registered class it names. Found once.
  const ObjectClass* objectClass = nullptr;
  ObjectPtr object;
};

KeyedUnarchiver::KeyedUnarchiver(std::span<const uint8_t> bytes, const UnarchiveOptions& options)
    : options_(options),
      registry_(options.registry != nullptr ? *options.registry : ClassRegistry::shared()) {
  validateArchive(bytes);
}

KeyedUnarchiver::KeyedUnarchiver(const BinaryPropertyList& list, const UnarchiveOptions& options)
    : options_(options),
      registry_(options.registry != nullptr ? *options.registry : ClassRegistry::shared()),
      plist_(&list) {
  validateStructure();
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

void KeyedUnarchiver::fail(std::string debugDescription) {
  failWithError(readCorruptError(std::move(debugDescription)));
}

void KeyedUnarchiver::failWithError(NSError error) {
  if (!error_) {
    error_ = std::move(error);
  }
}

// MARK: Validation, all of it up front

bool KeyedUnarchiver::validateArchive(std::span<const uint8_t> bytes) {
  if (bytes.empty()) {
    fail("data is empty; it is not a keyed archive");
    return false;
  }
  std::string fault;
  ownedPlist_ = BinaryPropertyList::read(bytes, options_.limits, fault);
  if (!ownedPlist_) {
    fail("incomprehensible archive: " + fault);
    return false;
  }
  plist_ = &*ownedPlist_;
  return validateStructure();
}

bool KeyedUnarchiver::validateStructure() {
  Node root = plist_->top();
  if (!root.is(Type::dictionary)) {
    fail("incomprehensible archive: the top level is not a dictionary");
    return false;
  }
  if (root["$archiver"].stringValue() != kKeyedArchiverName) {
    fail("incomprehensible archive: \"$archiver\" is not \"NSKeyedArchiver\"");
    return false;
  }
  if (root["$version"].integerValue() != kKeyedArchiveVersion) {
    fail("incomprehensible archive version; only 100000 is read");
    return false;
  }
  auto rootUID = root["$top"]["root"].uidValue();
  if (!rootUID) {
    fail("incomprehensible archive: \"$top\" has no \"root\" reference");
    return false;
  }
  objects_ = root["$objects"];
  objectCount_ = objects_.arraySize();
  if (objectCount_ == 0 || objects_.arrayItem(0).stringValue() != "$null") {
    fail("incomprehensible archive: \"$objects\" does not start with \"$null\"");
    return false;
  }
  if (*rootUID >= objectCount_) {
    fail("incomprehensible archive: the root reference is out of range");
    return false;
  }
  rootUID_ = *rootUID;
  entries_.reserve(objectCount_);
  posix::adviseHugePages(entries_.data(), objectCount_ * sizeof(Entry));
  entries_.resize(objectCount_);
  for (uint64_t index = 1; index < objectCount_; ++index) {
    entries_[index].isClassRecord = objects_.arrayItem(index)["$classname"].is(Type::string);
  }
  for (uint64_t index = 1; index < objectCount_; ++index) {
    if (!validateObject(index)) {
      return false;
    }
  }
  return true;
}

// An entry of "$objects" is an inline value, a class record, or an object: a dictionary whose
// "$class" refers to a class record and whose other members are scalars, inline values,
// references in range, or arrays of references in range.
bool KeyedUnarchiver::validateObject(uint64_t index) {
  Node object = objects_.arrayItem(index);
  const std::string where = "object " + std::to_string(index);
  if (isInlineValue(object.type())) {
    return true;
  }
  if (!object.is(Type::dictionary)) {
    fail("incomprehensible archive: " + where + " is neither a value nor a dictionary");
    return false;
  }
  if (!object["$classname"].isNull()) {
    Node classes = object["$classes"];
    bool valid = entries_[index].isClassRecord && (classes.isNull() || classes.is(Type::array));
    for (size_t i = 0; valid && i < classes.arraySize(); ++i) {
      valid = classes.arrayItem(i).is(Type::string);
    }
    if (!valid) {
      fail("incomprehensible archive: class record " + std::to_string(index) + " is malformed");
    }
    return valid;
  }
  auto classUID = object["$class"].uidValue();
  if (!classUID) {
    fail("incomprehensible archive: " + where + " has no \"$class\"");
    return false;
  }
  if (*classUID >= objectCount_ || !entries_[*classUID].isClassRecord) {
    fail("incomprehensible archive: \"$class\" of " + where +
         " does not refer to a class record with a \"$classname\"");
    return false;
  }
  auto inRange = [this](Node value) {
    auto uid = value.uidValue();
    return uid && *uid < objectCount_;
  };
  for (size_t member = 0; member < object.dictionarySize(); ++member) {
    Node value = object.dictionaryValue(member);
    bool valid = true;
    if (value.is(Type::uid)) {
      valid = inRange(value);
    } else if (value.is(Type::array)) {
      for (size_t i = 0; valid && i < value.arraySize(); ++i) {
        valid = inRange(value.arrayItem(i));
      }
    } else {
      valid = isInlineValue(value.type());
    }
    if (!valid) {
      fail("incomprehensible archive: value for key '" +
           std::string(object.dictionaryKey(member).stringValue().value_or("")) + "' of " + where +
           " is not a value or a reference in range");
      return false;
    }
  }
  return true;
}

// MARK: Decoding objects

KeyedUnarchiver::Node KeyedUnarchiver::value(std::string_view key) const {
  return frames_.empty() ? Node() : frames_.back().object[key];
}

const ClassSet& KeyedUnarchiver::allowedClasses() const {
  static const ClassSet none;
  return frames_.empty() ? none : *frames_.back().allowed;
}

ObjectPtr KeyedUnarchiver::decodeRootObjectOfClasses(const ClassSet& allowed) {
  if (error_) {
    return nullptr;
  }
  return resolve(rootUID_, allowed, "root");
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
  return !value(key).isNull();
}

ObjectPtr KeyedUnarchiver::decodeObjectOfClasses(const ClassSet& allowed, std::string_view key) {
  if (error_) {
    return nullptr;
  }
  Node node = value(key);
  if (node.isNull()) {
    return nullptr;
  }
  auto uid = node.uidValue();
  if (!uid) {
    fail("value for key '" + std::string(key) + "' is not an object reference");
    return nullptr;
  }
  return resolve(*uid, allowed, key);
}

ObjectPtr KeyedUnarchiver::decodeObjectForKey(std::string_view key) {
  return decodeObjectOfClasses(allowedClasses(), key);
}

const ObjectClass* KeyedUnarchiver::classOf(uint64_t uid, std::string_view key) {
  Entry& entry = entries_[uid];
  if (entry.objectClass != nullptr) {
    return entry.objectClass;
  }
  Node object = objects_.arrayItem(uid);
  switch (object.type().value_or(Type::dictionary)) {
  case Type::string:
    return entry.objectClass = &NSString::classObject();
  case Type::integer:
  case Type::real:
  case Type::boolean:
    return entry.objectClass = &NSNumber::classObject();
  case Type::data:
    return entry.objectClass = &NSData::classObject();
  default:
    break;
  }
  if (entry.isClassRecord) {
    fail("value for key '" + std::string(key) + "' is not an archived object");
    return nullptr;
  }
  // Validation made sure "$class" refers to a class record.
  const uint64_t recordUID = object["$class"].uidValue().value_or(0);
  Entry& record = entries_[recordUID];
  if (record.objectClass == nullptr) {
    const std::string name(objects_.arrayItem(recordUID)["$classname"].stringValue().value_or(""));
    record.objectClass = registry_.classNamed(name);
    if (record.objectClass == nullptr) {
      fail(unknownClassDescription(key, name));
      return nullptr;
    }
  }
  return entry.objectClass = record.objectClass;
}

ObjectPtr KeyedUnarchiver::resolve(uint64_t uid, const ClassSet& allowed, std::string_view key) {
  if (error_ || uid == 0) {
    return nullptr;
  }
  if (uid >= objectCount_) {
    fail("reference for key '" + std::string(key) + "' is out of range");
    return nullptr;
  }
  if (++references_ > options_.limits.maxObjectReferences) {
    fail("the archive refers to too many objects");
    return nullptr;
  }
  const ObjectClass* objectClass = classOf(uid, key);
  if (objectClass == nullptr) {
    return nullptr;
  }
  if (!objectClass->isAllowedBy(allowed)) {
    fail(unexpectedClassDescription(key, objectClass->name(), classNames(allowed)));
    return nullptr;
  }
  if (!objectClass->supportsSecureCoding()) {
    fail(insecureClassDescription(objectClass->name()));
    return nullptr;
  }
  Entry& entry = entries_[uid];
  if (entry.state == Entry::State::done) {
    return entry.object;
  }
  if (entry.state == Entry::State::decoding) {
    fail("the object for key '" + std::string(key) + "' refers back to itself");
    return nullptr;
  }
  Node object = objects_.arrayItem(uid);
  switch (object.type().value_or(Type::dictionary)) {
  case Type::string:
    entry.object = NSString::make(std::string(*object.stringValue()));
    break;
  case Type::integer:
    entry.object = NSNumber::make(static_cast<int64_t>(*object.integerValue()));
    break;
  case Type::real:
    entry.object = NSNumber::make(*object.realValue());
    break;
  case Type::boolean:
    entry.object = NSNumber::make(*object.boolValue());
    break;
  case Type::data: {
    const auto data = *object.dataValue();
    entry.object = NSData::make(Bytes(data.begin(), data.end()));
    break;
  }
  default: {
    if (frames_.size() >= options_.limits.maxObjectDepth) {
      fail("the archive nests objects too deeply");
      return nullptr;
    }
    entry.state = Entry::State::decoding;
    frames_.push_back({object, &allowed});
    ObjectPtr decoded = objectClass->initWithCoder(*this);
    frames_.pop_back();
    entries_[uid].object = error_ ? nullptr : std::move(decoded);
    break;
  }
  }
  entries_[uid].state = Entry::State::done;
  return entries_[uid].object;
}

std::optional<std::vector<ObjectPtr>>
KeyedUnarchiver::decodeArrayOfObjectsForKey(std::string_view key) {
  if (error_) {
    return std::nullopt;
  }
  Node node = value(key);
  std::vector<ObjectPtr> objects;
  if (node.isNull()) {
    return objects;
  }
  if (!node.is(Type::array)) {
    fail("value for key '" + std::string(key) + "' is not an array of references");
    return std::nullopt;
  }
  const size_t count = node.arraySize();
  objects.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint64_t uid = node.arrayItem(i).uidValue().value_or(0);
    ObjectPtr object = resolve(uid, allowedClasses(), key);
    if (error_) {
      return std::nullopt;
    }
    if (object == nullptr) {
      fail("an element for key '" + std::string(key) + "' is null or could not be decoded");
      return std::nullopt;
    }
    objects.push_back(std::move(object));
  }
  return objects;
}

// MARK: Scalars and shorthands

bool KeyedUnarchiver::decodeBoolForKey(std::string_view key) {
  Node node = value(key);
  if (error_ || node.isNull()) {
    return false;
  }
  if (auto flag = node.boolValue()) {
    return *flag;
  }
  if (auto integer = node.integerValue()) {
    return *integer != 0;
  }
  if (auto real = node.realValue()) {
    return *real != 0;
  }
  fail("value for key '" + std::string(key) + "' is not a Boolean");
  return false;
}

int64_t KeyedUnarchiver::decodeInt64ForKey(std::string_view key) {
  Node node = value(key);
  if (error_ || node.isNull()) {
    return 0;
  }
  if (auto integer = node.integerValue()) {
    return static_cast<int64_t>(*integer);
  }
  if (auto flag = node.boolValue()) {
    return *flag ? 1 : 0;
  }
  if (auto real = node.realValue();
      real && std::isfinite(*real) && *real >= -9.2e18 && *real <= 9.2e18) {
    return static_cast<int64_t>(*real);
  }
  fail("value for key '" + std::string(key) + "' is not an integer");
  return 0;
}

int32_t KeyedUnarchiver::decodeInt32ForKey(std::string_view key) {
  const int64_t value = decodeInt64ForKey(key);
  if (value < INT32_MIN || value > INT32_MAX) {
    fail("value for key '" + std::string(key) + "' is too large to fit in a 32-bit integer");
    return 0;
  }
  return static_cast<int32_t>(value);
}

double KeyedUnarchiver::decodeDoubleForKey(std::string_view key) {
  Node node = value(key);
  if (error_ || node.isNull()) {
    return 0;
  }
  if (auto real = node.realValue()) {
    return *real;
  }
  if (auto integer = node.integerValue()) {
    return static_cast<double>(static_cast<int64_t>(*integer));
  }
  if (auto flag = node.boolValue()) {
    return *flag ? 1 : 0;
  }
  fail("value for key '" + std::string(key) + "' is not a number");
  return 0;
}

std::optional<Bytes> KeyedUnarchiver::decodeBytesForKey(std::string_view key) {
  Node node = value(key);
  if (error_ || node.isNull()) {
    return std::nullopt;
  }
  auto bytes = node.dataValue();
  if (!bytes) {
    fail("value for key '" + std::string(key) + "' is not data");
    return std::nullopt;
  }
  return Bytes(bytes->begin(), bytes->end());
}

std::optional<std::string> KeyedUnarchiver::decodeStringForKey(std::string_view key) {
  // Strings stand behind a reference; the mutable string's own contents stand inline.
  const Node node = value(key);
  if (auto inlineString = node.stringValue(); inlineString && !error_) {
    return std::string(*inlineString);
  }
  // A reference to a plain string gives its text at once: a string object would be made, kept
  // and copied from for each of the millions of paths in a large result. The reference counts
  // against the limit as any other.
  if (auto uid = node.uidValue(); uid && *uid != 0 && *uid < objectCount_ && !error_) {
    if (auto text = objects_.arrayItem(*uid).stringValue()) {
      if (++references_ > options_.limits.maxObjectReferences) {
        fail("the archive refers to too many objects");
        return std::nullopt;
      }
      return std::string(*text);
    }
  }
  auto string = decodeObjectOfClass<NSString>(key);
  return string != nullptr ? std::optional<std::string>(string->value()) : std::nullopt;
}

std::optional<Bytes> KeyedUnarchiver::decodeDataForKey(std::string_view key) {
  if (auto inlineData = value(key).dataValue(); inlineData && !error_) {
    return Bytes(inlineData->begin(), inlineData->end());
  }
  auto data = decodeObjectOfClass<NSData>(key);
  return data != nullptr ? std::optional<Bytes>(data->bytes()) : std::nullopt;
}

std::optional<URL> KeyedUnarchiver::decodeURLForKey(std::string_view key) {
  auto url = decodeObjectOfClass<NSURL>(key);
  return url != nullptr ? std::optional<URL>(url->url()) : std::nullopt;
}

std::optional<UUID> KeyedUnarchiver::decodeUUIDForKey(std::string_view key) {
  auto uuid = decodeObjectOfClass<NSUUID>(key);
  return uuid != nullptr ? std::optional<UUID>(uuid->uuid()) : std::nullopt;
}

std::optional<Date> KeyedUnarchiver::decodeDateForKey(std::string_view key) {
  auto date = decodeObjectOfClass<NSDate>(key);
  return date != nullptr ? std::optional<Date>(date->date()) : std::nullopt;
}

int KeyedUnarchiver::fileDescriptorAtIndex(int64_t index) const {
  if (index < 0 || static_cast<uint64_t>(index) >= options_.fileDescriptors.size()) {
    return -1;
  }
  return options_.fileDescriptors[static_cast<size_t>(index)];
}

// MARK: Top level

namespace {

template <class Source>
ObjectPtr unarchiveRoot(const ClassSet& allowed, const Source& source, NSError* error,
                        const UnarchiveOptions& options) {
  try {
    KeyedUnarchiver unarchiver(source, options);
    ObjectPtr root = unarchiver.decodeRootObjectOfClasses(allowed);
    if (unarchiver.error()) {
      setError(error, *unarchiver.error());
      return nullptr;
    }
    return root;
  } catch (const std::exception& exception) {
    setError(error, readCorruptError(std::string("the archive could not be decoded: ") +
                                     exception.what()));
  } catch (...) {
    setError(error, readCorruptError("the archive could not be decoded"));
  }
  return nullptr;
}

} // namespace

ObjectPtr unarchivedObjectOfClasses(const ClassSet& allowed, std::span<const uint8_t> data,
                                    NSError* error, const UnarchiveOptions& options) {
  return unarchiveRoot(allowed, data, error, options);
}

ObjectPtr unarchivedObjectOfClasses(const ClassSet& allowed, const BinaryPropertyList& list,
                                    NSError* error, const UnarchiveOptions& options) {
  return unarchiveRoot(allowed, list, error, options);
}

} // namespace platform::archive
