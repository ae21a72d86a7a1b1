#include "platform/archive/Collections.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

#include <algorithm>
#include <unordered_map>

namespace platform::archive {
namespace {

bool sameObjects(const std::vector<ObjectPtr>& a, const std::vector<ObjectPtr>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), objectsEqual);
}

// Whether two collection members are the same member. Values compare by content; other
// objects (collections, custom classes) by identity, which keeps the check linear in the
// size of the values however an archive nests and shares its objects.
bool sameMember(const Object& a, const Object& b) {
  if (&a == &b) {
    return true;
  }
  const bool comparable = dynamic_cast<const NSString*>(&a) || dynamic_cast<const NSNumber*>(&a) ||
                          dynamic_cast<const NSData*>(&a) || dynamic_cast<const NSDate*>(&a) ||
                          dynamic_cast<const NSUUID*>(&a) || dynamic_cast<const NSURL*>(&a) ||
                          dynamic_cast<const NSNull*>(&a);
  return comparable && a.isEqual(b);
}

// Finds members equal to a candidate through their hashes, so that building a collection
// from an archive stays near linear in its size.
class MemberIndex {
public:
  // The position of the member equal to `object`, if any, among `members`.
  template <class Get, class Members>
  std::optional<size_t> find(const Object& object, const Members& members, Get get) const {
    auto [first, last] = positions_.equal_range(object.hash());
    for (auto it = first; it != last; ++it) {
      if (sameMember(*get(members[it->second]), object)) {
        return it->second;
      }
    }
    return std::nullopt;
  }
  void add(const Object& object, size_t position) { positions_.emplace(object.hash(), position); }

private:
  std::unordered_multimap<size_t, size_t> positions_;
};

// Describes one member. Nested collections are only counted: an archive can share one
// collection many times over, and describing every copy would take exponential time.
std::string describeMember(const Object& object) {
  if (auto* array = dynamic_cast<const NSArray*>(&object)) {
    return "<NSArray: " + std::to_string(array->count()) + " objects>";
  }
  if (auto* set = dynamic_cast<const NSSet*>(&object)) {
    return "<NSSet: " + std::to_string(set->count()) + " objects>";
  }
  if (auto* dictionary = dynamic_cast<const NSDictionary*>(&object)) {
    return "<NSDictionary: " + std::to_string(dictionary->count()) + " entries>";
  }
  return object.description();
}

std::string describe(const std::vector<ObjectPtr>& objects) {
  std::string text = "(";
  for (size_t i = 0; i < objects.size(); ++i) {
    text += (i == 0 ? "" : ", ") + describeMember(*objects[i]);
  }
  return text + ")";
}

ObjectPtr decodeArray(KeyedUnarchiver& coder) {
  auto objects = coder.decodeArrayOfObjectsForKey("NS.objects");
  return objects ? NSArray::make(std::move(*objects)) : nullptr;
}

ObjectPtr decodeSet(KeyedUnarchiver& coder) {
  auto objects = coder.decodeArrayOfObjectsForKey("NS.objects");
  return objects ? NSSet::make(*objects) : nullptr;
}

ObjectPtr decodeDictionary(KeyedUnarchiver& coder) {
  auto keys = coder.decodeArrayOfObjectsForKey("NS.keys");
  auto objects = coder.decodeArrayOfObjectsForKey("NS.objects");
  if (!keys || !objects) {
    return nullptr;
  }
  if (keys->size() != objects->size()) {
    coder.failWithError(
        readCorruptError("cannot decode NSDictionary: \"NS.keys\" and \"NS.objects\" differ in "
                         "length"));
    return nullptr;
  }
  std::vector<NSDictionary::Entry> entries;
  entries.reserve(keys->size());
  for (size_t i = 0; i < keys->size(); ++i) {
    entries.emplace_back(std::move((*keys)[i]), std::move((*objects)[i]));
  }
  return NSDictionary::make(entries);
}

} // namespace

// MARK: NSArray

std::shared_ptr<NSArray> NSArray::make(std::vector<ObjectPtr> objects) {
  return std::make_shared<NSArray>(std::move(objects));
}

std::shared_ptr<NSArray> NSArray::makeWithStrings(const std::vector<std::string>& strings) {
  std::vector<ObjectPtr> objects;
  objects.reserve(strings.size());
  for (const auto& string : strings) {
    objects.push_back(NSString::make(string));
  }
  return make(std::move(objects));
}

const ObjectClass& NSArray::classObject() {
  static const ObjectClass objectClass("NSArray", nullptr, true, decodeArray);
  return objectClass;
}

const ObjectClass& NSArray::mutableClassObject() {
  static const ObjectClass objectClass("NSMutableArray", &classObject(), true, decodeArray);
  return objectClass;
}

std::optional<std::vector<std::string>> NSArray::strings() const {
  std::vector<std::string> strings;
  strings.reserve(objects_.size());
  for (const auto& object : objects_) {
    auto* string = dynamic_cast<const NSString*>(object.get());
    if (string == nullptr) {
      return std::nullopt;
    }
    strings.push_back(string->value());
  }
  return strings;
}

void NSArray::encodeWithCoder(KeyedArchiver& coder) const {
  coder.encodeArrayOfObjects(objects_, "NS.objects");
}

bool NSArray::isEqual(const Object& other) const {
  auto* array = dynamic_cast<const NSArray*>(&other);
  return array != nullptr && sameObjects(array->objects_, objects_);
}

std::string NSArray::description() const {
  return describe(objects_);
}

// MARK: NSSet

NSSet::NSSet(const std::vector<ObjectPtr>& objects) {
  MemberIndex index;
  auto get = [](const ObjectPtr& member) { return member.get(); };
  for (const auto& object : objects) {
    if (object != nullptr && !index.find(*object, objects_, get)) {
      index.add(*object, objects_.size());
      objects_.push_back(object);
    }
  }
}

std::shared_ptr<NSSet> NSSet::make(const std::vector<ObjectPtr>& objects) {
  return std::make_shared<NSSet>(objects);
}

const ObjectClass& NSSet::classObject() {
  static const ObjectClass objectClass("NSSet", nullptr, true, decodeSet);
  return objectClass;
}

const ObjectClass& NSSet::mutableClassObject() {
  static const ObjectClass objectClass("NSMutableSet", &classObject(), true, decodeSet);
  return objectClass;
}

bool NSSet::containsObject(const Object& object) const {
  return std::any_of(objects_.begin(), objects_.end(),
                     [&](const ObjectPtr& member) { return sameMember(*member, object); });
}

void NSSet::encodeWithCoder(KeyedArchiver& coder) const {
  coder.encodeArrayOfObjects(objects_, "NS.objects");
}

bool NSSet::isEqual(const Object& other) const {
  auto* set = dynamic_cast<const NSSet*>(&other);
  return set != nullptr && set->objects_.size() == objects_.size() &&
         std::all_of(objects_.begin(), objects_.end(),
                     [&](const ObjectPtr& member) { return set->containsObject(*member); });
}

// MARK: NSDictionary

NSDictionary::NSDictionary(const std::vector<Entry>& entries) {
  MemberIndex index;
  auto get = [](const Entry& entry) { return entry.first.get(); };
  for (const auto& [key, value] : entries) {
    if (key == nullptr || value == nullptr) {
      continue;
    }
    if (auto existing = index.find(*key, entries_, get)) {
      entries_[*existing].second = value;
    } else {
      index.add(*key, entries_.size());
      entries_.emplace_back(key, value);
    }
  }
}

std::shared_ptr<NSDictionary> NSDictionary::make(const std::vector<Entry>& entries) {
  return std::make_shared<NSDictionary>(entries);
}

const ObjectClass& NSDictionary::classObject() {
  static const ObjectClass objectClass("NSDictionary", nullptr, true, decodeDictionary);
  return objectClass;
}

const ObjectClass& NSDictionary::mutableClassObject() {
  static const ObjectClass objectClass("NSMutableDictionary", &classObject(), true,
                                       decodeDictionary);
  return objectClass;
}

ObjectPtr NSDictionary::objectForKey(const Object& key) const {
  for (const auto& [entryKey, value] : entries_) {
    if (sameMember(*entryKey, key)) {
      return value;
    }
  }
  return nullptr;
}

ObjectPtr NSDictionary::objectForKey(std::string_view key) const {
  for (const auto& [entryKey, value] : entries_) {
    auto* string = dynamic_cast<const NSString*>(entryKey.get());
    if (string != nullptr && string->value() == key) {
      return value;
    }
  }
  return nullptr;
}

void NSDictionary::encodeWithCoder(KeyedArchiver& coder) const {
  std::vector<ObjectPtr> keys;
  std::vector<ObjectPtr> objects;
  keys.reserve(entries_.size());
  objects.reserve(entries_.size());
  for (const auto& [key, value] : entries_) {
    keys.push_back(key);
    objects.push_back(value);
  }
  coder.encodeArrayOfObjects(keys, "NS.keys");
  coder.encodeArrayOfObjects(objects, "NS.objects");
}

bool NSDictionary::isEqual(const Object& other) const {
  auto* dictionary = dynamic_cast<const NSDictionary*>(&other);
  if (dictionary == nullptr || dictionary->entries_.size() != entries_.size()) {
    return false;
  }
  return std::all_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return objectsEqual(dictionary->objectForKey(*entry.first), entry.second);
  });
}

std::string NSDictionary::description() const {
  std::string text = "{";
  for (size_t i = 0; i < entries_.size(); ++i) {
    text += (i == 0 ? "" : ", ") + describeMember(*entries_[i].first) + " = " +
            describeMember(*entries_[i].second);
  }
  return text + "}";
}

} // namespace platform::archive
