#include "platform/archive/ErrorObject.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/Collections.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

namespace platform::archive {
namespace {

ObjectPtr userInfoObject(const UserInfoValue& value, KeyedArchiver& coder) {
  struct Visitor {
    KeyedArchiver& coder;
    ObjectPtr operator()(const std::string& text) const { return NSString::make(text); }
    ObjectPtr operator()(int64_t number) const { return NSNumber::make(number); }
    ObjectPtr operator()(double number) const { return NSNumber::make(number); }
    ObjectPtr operator()(bool flag) const { return NSNumber::make(flag); }
    ObjectPtr operator()(const URL& url) const { return NSURL::make(url); }
    ObjectPtr operator()(const std::shared_ptr<const NSError>& error) const {
      if (error == nullptr) {
        return nullptr;
      }
      return coder.sharedObject(error.get(),
                                [&]() { return std::make_shared<NSErrorObject>(error); });
    }
    ObjectPtr operator()(const std::vector<NSError>& errors) const {
      std::vector<ObjectPtr> objects;
      for (const auto& error : errors) {
        objects.push_back(NSErrorObject::make(error));
      }
      return NSArray::make(std::move(objects));
    }
    ObjectPtr operator()(const std::vector<std::string>& strings) const {
      return NSArray::makeWithStrings(strings);
    }
  };
  return std::visit(Visitor{coder}, value);
}

// The most error values that one decoded error may hold through lists of errors.
constexpr size_t kMaxErrorWeight = 10'000;

// Converts an archived user-information value; `weight` grows by the errors it copies.
std::optional<UserInfoValue> userInfoValue(const Object& object, size_t& weight) {
  if (auto* string = dynamic_cast<const NSString*>(&object)) {
    return string->value();
  }
  if (auto* number = dynamic_cast<const NSNumber*>(&object)) {
    return std::visit([](auto value) { return UserInfoValue(value); }, number->value());
  }
  if (auto* url = dynamic_cast<const NSURL*>(&object)) {
    return url->url();
  }
  if (auto* error = dynamic_cast<const NSErrorObject*>(&object)) {
    return error->sharedError();
  }
  if (auto* array = dynamic_cast<const NSArray*>(&object)) {
    if (auto strings = array->strings()) {
      return *strings;
    }
    if (auto errors = array->objectsOfClass<NSErrorObject>()) {
      std::vector<NSError> values;
      for (const auto& error : *errors) {
        weight += error->weight();
        if (weight > kMaxErrorWeight) {
          return std::nullopt;
        }
        values.push_back(error->error());
      }
      return values;
    }
  }
  return std::nullopt;
}

// The classes an error's user information may hold, whatever the caller allowed: the error
// decides this itself, as the platform's does.
const ClassSet& userInfoClasses() {
  static const ClassSet classes = {
      &NSDictionary::classObject(), &NSArray::classObject(),      &NSSet::classObject(),
      &NSString::classObject(),     &NSNumber::classObject(),     &NSData::classObject(),
      &NSDate::classObject(),       &NSURL::classObject(),        &NSUUID::classObject(),
      &NSNull::classObject(),       &NSErrorObject::classObject()};
  return classes;
}

} // namespace

std::shared_ptr<NSErrorObject> NSErrorObject::make(NSError error) {
  return std::make_shared<NSErrorObject>(std::move(error));
}

const ObjectClass& NSErrorObject::classObject() {
  static const ObjectClass objectClass(
      "NSError", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        const int64_t code = coder.decodeIntegerForKey("NSCode");
        auto domain = coder.decodeStringForKey("NSDomain");
        auto info = std::dynamic_pointer_cast<NSDictionary>(
            coder.decodeObjectOfClasses(userInfoClasses(), "NSUserInfo"));
        if (coder.error()) {
          return nullptr;
        }
        if (!domain) {
          coder.failWithError(readCorruptError("cannot decode NSError: \"NSDomain\" is missing"));
          return nullptr;
        }
        UserInfo userInfo;
        size_t weight = 1;
        if (info != nullptr) {
          for (const auto& [key, value] : info->entries()) {
            auto* name = dynamic_cast<const NSString*>(key.get());
            auto converted = userInfoValue(*value, weight);
            if (weight > kMaxErrorWeight) {
              coder.failWithError(readCorruptError("cannot decode NSError: its user information "
                                                   "holds too many errors"));
              return nullptr;
            }
            if (name != nullptr && converted) {
              userInfo.emplace(name->value(), std::move(*converted));
            }
          }
        }
        auto decoded = make(NSError(std::move(*domain), code, std::move(userInfo)));
        decoded->weight_ = weight;
        return decoded;
      });
  return objectClass;
}

void NSErrorObject::encodeWithCoder(KeyedArchiver& coder) const {
  coder.encodeInteger(error_->code(), "NSCode");
  coder.encodeString(error_->domain(), "NSDomain");
  if (error_->userInfo().empty()) {
    coder.encodeObject(nullptr, "NSUserInfo");
    return;
  }
  std::vector<NSDictionary::Entry> entries;
  for (const auto& [key, value] : error_->userInfo()) {
    if (auto object = userInfoObject(value, coder)) {
      entries.emplace_back(NSString::make(key), std::move(object));
    }
  }
  coder.encodeObject(NSDictionary::make(entries), "NSUserInfo");
}

bool NSErrorObject::isEqual(const Object& other) const {
  auto* error = dynamic_cast<const NSErrorObject*>(&other);
  return error != nullptr && (error->error_ == error_ || *error->error_ == *error_);
}

size_t NSErrorObject::hash() const {
  return std::hash<std::string>()(error_->domain()) ^ static_cast<size_t>(error_->code());
}

std::string NSErrorObject::description() const {
  return "Error Domain=" + error_->domain() + " Code=" + std::to_string(error_->code()) + " \"" +
         error_->localizedDescription() + "\"";
}

} // namespace platform::archive
