#include "platform/archive/Values.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/foundation/URLReference.h"

#include <cmath>
#include <cstring>

namespace platform::archive {
namespace {

// Fails decoding of a standard class whose archived form is not what the platform writes.
ObjectPtr reject(KeyedUnarchiver& coder, const std::string& className, const std::string& why) {
  coder.failWithError(readCorruptError("cannot decode " + className + ": " + why));
  return nullptr;
}

} // namespace

// MARK: NSString

std::shared_ptr<NSString> NSString::make(std::string value) {
  return std::make_shared<NSString>(std::move(value));
}

const ObjectClass& NSString::classObject() {
  static const ObjectClass objectClass(
      "NSString", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        auto value = coder.decodeStringForKey("NS.string");
        if (!value) {
          return reject(coder, "NSString", "\"NS.string\" is missing");
        }
        return make(std::move(*value));
      });
  return objectClass;
}

const ObjectClass& NSString::mutableClassObject() {
  static const ObjectClass objectClass(
      "NSMutableString", &classObject(), true,
      [](KeyedUnarchiver& coder) { return classObject().initWithCoder(coder); });
  return objectClass;
}

void NSString::encodeWithCoder(KeyedArchiver& coder) const {
  // Only reached for an explicit mutable form; plain strings are written inline.
  coder.encodeString(value_, "NS.string");
}

bool NSString::isEqual(const Object& other) const {
  auto* string = dynamic_cast<const NSString*>(&other);
  return string != nullptr && string->value_ == value_;
}

size_t NSString::hash() const {
  return std::hash<std::string>()(value_);
}

// MARK: NSNumber

std::shared_ptr<NSNumber> NSNumber::make(Value value) {
  return std::make_shared<NSNumber>(value);
}

const ObjectClass& NSNumber::classObject() {
  // Numbers only ever stand inline; an object-shaped number is not something we read.
  static const ObjectClass objectClass("NSNumber", nullptr, true, [](KeyedUnarchiver& coder) {
    return reject(coder, "NSNumber", "numbers are stored inline");
  });
  return objectClass;
}

bool NSNumber::boolValue() const {
  return std::visit([](auto value) { return value != 0; }, value_);
}

int64_t NSNumber::int64Value() const {
  if (auto* real = std::get_if<double>(&value_)) {
    // Out-of-range reals saturate instead of invoking undefined behaviour.
    if (!(*real > -9.3e18)) {
      return *real != *real ? 0 : INT64_MIN;
    }
    return *real < 9.2e18 ? static_cast<int64_t>(*real) : INT64_MAX;
  }
  return std::visit([](auto value) { return static_cast<int64_t>(value); }, value_);
}

double NSNumber::doubleValue() const {
  return std::visit([](auto value) { return static_cast<double>(value); }, value_);
}

void NSNumber::encodeWithCoder(KeyedArchiver&) const {
  // Written inline by the archiver.
}

bool NSNumber::isEqual(const Object& other) const {
  auto* number = dynamic_cast<const NSNumber*>(&other);
  if (number == nullptr) {
    return false;
  }
  if (value_.index() == number->value_.index()) {
    return value_ == number->value_;
  }
  return doubleValue() == number->doubleValue();
}

size_t NSNumber::hash() const {
  return std::hash<double>()(doubleValue());
}

std::string NSNumber::description() const {
  if (auto* flag = std::get_if<bool>(&value_)) {
    return *flag ? "1" : "0";
  }
  if (auto* integer = std::get_if<int64_t>(&value_)) {
    return std::to_string(*integer);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", std::get<double>(value_));
  return text;
}

// MARK: NSData

std::shared_ptr<NSData> NSData::make(Bytes bytes) {
  return std::make_shared<NSData>(std::move(bytes));
}

namespace {
ObjectPtr decodeDataObject(KeyedUnarchiver& coder) {
  auto bytes = coder.decodeDataForKey("NS.data");
  if (!bytes) {
    bytes = coder.decodeDataForKey("NS.bytes");
  }
  if (!bytes) {
    return reject(coder, "NSData", "\"NS.data\" is missing");
  }
  return NSData::make(std::move(*bytes));
}
} // namespace

const ObjectClass& NSData::classObject() {
  static const ObjectClass objectClass("NSData", nullptr, true, decodeDataObject);
  return objectClass;
}

const ObjectClass& NSData::mutableClassObject() {
  static const ObjectClass objectClass("NSMutableData", &classObject(), true, decodeDataObject);
  return objectClass;
}

void NSData::encodeWithCoder(KeyedArchiver& coder) const {
  // Only reached for an explicit mutable form; plain data is written inline.
  coder.encodeBytes(bytes_, "NS.data");
}

bool NSData::isEqual(const Object& other) const {
  auto* data = dynamic_cast<const NSData*>(&other);
  return data != nullptr && data->bytes_ == bytes_;
}

size_t NSData::hash() const {
  return std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()));
}

// MARK: NSDate

std::shared_ptr<NSDate> NSDate::make(Date date) {
  return std::make_shared<NSDate>(date);
}

const ObjectClass& NSDate::classObject() {
  static const ObjectClass objectClass(
      "NSDate", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        if (!coder.containsValueForKey("NS.time")) {
          return reject(coder, "NSDate", "\"NS.time\" is missing");
        }
        const double seconds = coder.decodeDoubleForKey("NS.time");
        if (coder.error()) {
          return nullptr;
        }
        return make(Date::fromTimeIntervalSinceReferenceDate(seconds));
      });
  return objectClass;
}

void NSDate::encodeWithCoder(KeyedArchiver& coder) const {
  coder.encodeDouble(date_.timeIntervalSinceReferenceDate(), "NS.time");
}

bool NSDate::isEqual(const Object& other) const {
  auto* date = dynamic_cast<const NSDate*>(&other);
  return date != nullptr && date->date_ == date_;
}

size_t NSDate::hash() const {
  return std::hash<double>()(date_.timeIntervalSinceReferenceDate());
}

std::string NSDate::description() const {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", date_.timeIntervalSinceReferenceDate());
  return text;
}

// MARK: NSUUID

std::shared_ptr<NSUUID> NSUUID::make(UUID uuid) {
  return std::make_shared<NSUUID>(uuid);
}

const ObjectClass& NSUUID::classObject() {
  static const ObjectClass objectClass(
      "NSUUID", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        auto bytes = coder.decodeBytesForKey("NS.uuidbytes");
        UUID::Bytes raw;
        if (!bytes || bytes->size() != raw.size()) {
          return reject(coder, "NSUUID", "\"NS.uuidbytes\" is not 16 bytes");
        }
        std::memcpy(raw.data(), bytes->data(), raw.size());
        return make(UUID(raw));
      });
  return objectClass;
}

void NSUUID::encodeWithCoder(KeyedArchiver& coder) const {
  coder.encodeBytes(Bytes(uuid_.bytes().begin(), uuid_.bytes().end()), "NS.uuidbytes");
}

bool NSUUID::isEqual(const Object& other) const {
  auto* uuid = dynamic_cast<const NSUUID*>(&other);
  return uuid != nullptr && uuid->uuid_ == uuid_;
}

size_t NSUUID::hash() const {
  return std::hash<UUID>()(uuid_);
}

// MARK: NSURL

std::shared_ptr<NSURL> NSURL::make(URL url) {
  return std::make_shared<NSURL>(std::move(url));
}

std::optional<URL> resolveURL(const std::optional<URL>& base, const std::string& relative) {
  if (!base) {
    return URL::fromString(relative);
  }
  return URL::fromString(resolveURLReference(base->absoluteString(), relative));
}

const ObjectClass& NSURL::classObject() {
  static const ObjectClass objectClass(
      "NSURL", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        auto base = coder.decodeObjectOfClass<NSURL>("NS.base");
        auto relative = coder.decodeStringForKey("NS.relative");
        if (coder.error()) {
          return nullptr;
        }
        if (!relative) {
          return reject(coder, "NSURL", "\"NS.relative\" is missing");
        }
        auto url = resolveURL(base ? std::optional<URL>(base->url()) : std::nullopt, *relative);
        if (!url) {
          return reject(coder, "NSURL", "\"NS.relative\" is not a valid URL");
        }
        return make(std::move(*url));
      });
  return objectClass;
}

void NSURL::encodeWithCoder(KeyedArchiver& coder) const {
  coder.encodeObject(nullptr, "NS.base");
  coder.encodeString(url_.absoluteString(), "NS.relative");
}

bool NSURL::isEqual(const Object& other) const {
  auto* url = dynamic_cast<const NSURL*>(&other);
  return url != nullptr && url->url_ == url_;
}

size_t NSURL::hash() const {
  return std::hash<std::string>()(url_.absoluteString());
}

// MARK: NSNull

std::shared_ptr<NSNull> NSNull::null() {
  static const auto shared = std::make_shared<NSNull>();
  return shared;
}

const ObjectClass& NSNull::classObject() {
  static const ObjectClass objectClass("NSNull", nullptr, true,
                                       [](KeyedUnarchiver&) -> ObjectPtr { return null(); });
  return objectClass;
}

bool NSNull::isEqual(const Object& other) const {
  return dynamic_cast<const NSNull*>(&other) != nullptr;
}

} // namespace platform::archive
