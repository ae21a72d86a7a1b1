#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tasks {

class KLVResultObject;
using ResultPtr = std::shared_ptr<KLVResultObject>;

// The one result type of every privileged access task: a type, an optional value (any object
// that supports secure coding) and an optional error. Archived as "type" (integer), "value"
// and "error" (an NSError).
class KLVResultObject final : public platform::archive::Object {
public:
  enum Type : int64_t { empty = 0, success = 1, failure = 2, mixed = 3 };

  KLVResultObject(int64_t type, platform::archive::ObjectPtr value,
                  std::optional<platform::NSError> error);

  static const platform::archive::ObjectClass& classObject();

  static ResultPtr emptyResult();
  static ResultPtr successResultWithValue(platform::archive::ObjectPtr value);
  static ResultPtr failureResultWithError(platform::NSError error);
  // Type 0 with neither, 1 with a value only, 2 with an error only, 3 with both.
  static ResultPtr resultWithValue(platform::archive::ObjectPtr value,
                                   std::optional<platform::NSError> error);
  static ResultPtr successStatusResult();
  static ResultPtr failureStatusResultWithError(platform::NSError error);
  // The value is the string "success" or "failure"; type 3 when an error is given, else 1.
  static ResultPtr resultWithStatus(bool status, std::optional<platform::NSError> error);
  static ResultPtr accessDeniedResult();
  static ResultPtr accessDeniedResultWithErrorUserInfo(platform::UserInfo userInfo);

  int64_t type() const { return type_; }
  const platform::archive::ObjectPtr& value() const { return value_; }
  const std::optional<platform::NSError>& error() const { return error_; }

  bool isEmpty() const { return type_ == empty; }
  // Whether the value is the string "success" (meaningful for status results).
  bool isSuccess() const;
  std::string klv_typeText() const;

  using ValueMapping =
      std::function<platform::archive::ObjectPtr(const platform::archive::ObjectPtr&)>;
  using ErrorMapping = std::function<platform::archive::ObjectPtr(const platform::NSError&)>;
  using ValueFlatMapping = std::function<ResultPtr(const platform::archive::ObjectPtr&)>;
  using ErrorFlatMapping = std::function<ResultPtr(const platform::NSError&)>;
  // The block applied to the value for types 1 and 3; null otherwise.
  platform::archive::ObjectPtr mapValue(const ValueMapping& block) const;
  // The block applied to the error for types 2 and 3; null otherwise.
  platform::archive::ObjectPtr mapError(const ErrorMapping& block) const;
  // The block's result, or this result itself when the block is not applied or gives null.
  ResultPtr flatMapValue(const ValueFlatMapping& block) const;
  ResultPtr flatMapError(const ErrorFlatMapping& block) const;

  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;
  std::string description() const override;

private:
  ResultPtr self() const;

  int64_t type_;
  platform::archive::ObjectPtr value_;
  std::optional<platform::NSError> error_;
};

// The text of a result type; any number other than 0 to 3 reads "failure".
std::string klv_typeText(int64_t type);

} // namespace tasks
