#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/NSError.h"

namespace platform::archive {

// NSError as an archived object: {"NSCode": integer, "NSDomain": string, "NSUserInfo":
// dictionary or $null}. The user information maps to the error value's: strings, integers,
// reals, Booleans, URLs, errors, and arrays of errors or of strings travel; other values found
// in an archive (dates, data, nested dictionaries) are dropped on reading.
class NSErrorObject final : public Object {
public:
  explicit NSErrorObject(NSError error)
      : error_(std::make_shared<const NSError>(std::move(error))) {}
  explicit NSErrorObject(std::shared_ptr<const NSError> error) : error_(std::move(error)) {}
  static std::shared_ptr<NSErrorObject> make(NSError error);
  static const ObjectClass& classObject();

  const NSError& error() const { return *error_; }
  // The same error, shared (how a decoded error becomes another's underlying error).
  const std::shared_ptr<const NSError>& sharedError() const { return error_; }
  // How many error values a copy of this error holds through lists of errors in its user
  // information; decoding bounds it, since an archive can share one error many times over.
  size_t weight() const { return weight_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;
  std::string description() const override;

private:
  std::shared_ptr<const NSError> error_;
  size_t weight_ = 1;
};

} // namespace platform::archive
