#include "tasks/model/KLVResultObject.h"

#include "platform/archive/ErrorObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"
#include "tasks/model/PrivilegedAccessErrors.h"

namespace tasks {

using platform::NSError;
using platform::archive::ObjectPtr;

namespace {
constexpr const char* kStatusSuccess = "success";
constexpr const char* kStatusFailure = "failure";
} // namespace

std::string klv_typeText(int64_t type) {
  switch (type) {
  case KLVResultObject::empty:
    return "empty";
  case KLVResultObject::success:
    return "success";
  case KLVResultObject::mixed:
    return "mixed";
  default:
    return "failure";
  }
}

KLVResultObject::KLVResultObject(int64_t type, ObjectPtr value, std::optional<NSError> error)
    : type_(type), value_(std::move(value)), error_(std::move(error)) {}

const platform::archive::ObjectClass& KLVResultObject::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVResultObject", nullptr, true, [](platform::archive::KeyedUnarchiver& coder) -> ObjectPtr {
        const int64_t type = coder.decodeIntegerForKey("type");
        ObjectPtr value = coder.decodeObjectForKey("value");
        auto errorObject = coder.decodeObjectOfClass<platform::archive::NSErrorObject>("error");
        if (coder.error()) {
          return nullptr;
        }
        // An empty result carries nothing; one that claims otherwise is not a valid archive.
        if (type == empty && (value != nullptr || errorObject != nullptr)) {
          return nullptr;
        }
        std::optional<NSError> error;
        if (errorObject != nullptr) {
          error = errorObject->error();
        }
        return std::make_shared<KLVResultObject>(type, std::move(value), std::move(error));
      });
  return objectClass;
}

ResultPtr KLVResultObject::emptyResult() {
  return std::make_shared<KLVResultObject>(empty, nullptr, std::nullopt);
}

ResultPtr KLVResultObject::successResultWithValue(ObjectPtr value) {
  return resultWithValue(std::move(value), std::nullopt);
}

ResultPtr KLVResultObject::failureResultWithError(NSError error) {
  return resultWithValue(nullptr, std::move(error));
}

ResultPtr KLVResultObject::resultWithValue(ObjectPtr value, std::optional<NSError> error) {
  int64_t type = empty;
  if (value != nullptr && error) {
    type = mixed;
  } else if (value != nullptr) {
    type = success;
  } else if (error) {
    type = failure;
  }
  return std::make_shared<KLVResultObject>(type, std::move(value), std::move(error));
}

ResultPtr KLVResultObject::successStatusResult() {
  return resultWithStatus(true, std::nullopt);
}

ResultPtr KLVResultObject::failureStatusResultWithError(NSError error) {
  return resultWithStatus(false, std::move(error));
}

ResultPtr KLVResultObject::resultWithStatus(bool status, std::optional<NSError> error) {
  const int64_t type = error ? mixed : success;
  return std::make_shared<KLVResultObject>(
      type, platform::archive::NSString::make(status ? kStatusSuccess : kStatusFailure),
      std::move(error));
}

ResultPtr KLVResultObject::accessDeniedResult() {
  return accessDeniedResultWithErrorUserInfo({});
}

ResultPtr KLVResultObject::accessDeniedResultWithErrorUserInfo(platform::UserInfo userInfo) {
  return failureResultWithError(NSError(kKLVPrivilegedAccessErrorDomain,
                                        kKLVPrivilegedAccessDeniedErrorCode, std::move(userInfo)));
}

bool KLVResultObject::isSuccess() const {
  auto text = std::dynamic_pointer_cast<platform::archive::NSString>(value_);
  return text != nullptr && text->value() == kStatusSuccess;
}

std::string KLVResultObject::klv_typeText() const {
  return tasks::klv_typeText(type_);
}

ObjectPtr KLVResultObject::mapValue(const ValueMapping& block) const {
  if (type_ != success && type_ != mixed) {
    return nullptr;
  }
  return block(value_);
}

ObjectPtr KLVResultObject::mapError(const ErrorMapping& block) const {
  if ((type_ != failure && type_ != mixed) || !error_) {
    return nullptr;
  }
  return block(*error_);
}

ResultPtr KLVResultObject::self() const {
  return std::const_pointer_cast<KLVResultObject>(
      std::static_pointer_cast<const KLVResultObject>(shared_from_this()));
}

ResultPtr KLVResultObject::flatMapValue(const ValueFlatMapping& block) const {
  auto mapped = std::dynamic_pointer_cast<KLVResultObject>(
      mapValue([&block](const ObjectPtr& value) -> ObjectPtr { return block(value); }));
  return mapped != nullptr ? mapped : self();
}

ResultPtr KLVResultObject::flatMapError(const ErrorFlatMapping& block) const {
  auto mapped = std::dynamic_pointer_cast<KLVResultObject>(
      mapError([&block](const NSError& error) -> ObjectPtr { return block(error); }));
  return mapped != nullptr ? mapped : self();
}

void KLVResultObject::encodeWithCoder(platform::archive::KeyedArchiver& coder) const {
  coder.encodeInteger(type_, "type");
  coder.encodeObject(value_, "value");
  coder.encodeObject(error_ ? platform::archive::NSErrorObject::make(*error_) : nullptr, "error");
}

bool KLVResultObject::isEqual(const platform::archive::Object& other) const {
  const auto* result = dynamic_cast<const KLVResultObject*>(&other);
  return result != nullptr && result->type_ == type_ &&
         platform::archive::objectsEqual(value_, result->value_) && error_ == result->error_;
}

size_t KLVResultObject::hash() const {
  const size_t errorHash =
      error_ ? std::hash<std::string>()(error_->domain()) ^ static_cast<size_t>(error_->code()) : 0;
  return platform::archive::objectHash(value_) ^ static_cast<size_t>(type_) ^ errorHash;
}

std::string KLVResultObject::description() const {
  const std::string error = error_ ? error_->description() : "nil";
  const std::string value = value_ != nullptr ? value_->description() : "nil";
  return "<result {\n    error = " + error + ";\n    type = " + klv_typeText() +
         ";\n    value = " + value + ";\n}>";
}

} // namespace tasks
