#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

// The platform's standard value classes. Strings, numbers and data are archived inline as
// plain property-list values; the others as objects with the keys the platform uses.
namespace platform::archive {

// NSString: archived inline as a string (NSMutableString as {"NS.string": string}).
class NSString final : public Object {
public:
  explicit NSString(std::string value) : value_(std::move(value)) {}
  static std::shared_ptr<NSString> make(std::string value);
  static const ObjectClass& classObject();
  static const ObjectClass& mutableClassObject();

  const std::string& value() const { return value_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return value_; }

private:
  std::string value_;
};

// NSNumber: archived inline as a Boolean, an integer or a real.
class NSNumber final : public Object {
public:
  using Value = std::variant<bool, int64_t, double>;

  explicit NSNumber(Value value) : value_(value) {}
  static std::shared_ptr<NSNumber> make(Value value);
  static const ObjectClass& classObject();

  const Value& value() const { return value_; }
  bool isBoolean() const { return std::holds_alternative<bool>(value_); }
  bool boolValue() const;
  int64_t int64Value() const;
  double doubleValue() const;

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;
  std::string description() const override;

private:
  Value value_;
};

// NSData: archived inline as data (NSMutableData as {"NS.data": data}; "NS.bytes" is read too).
class NSData final : public Object {
public:
  explicit NSData(Bytes bytes) : bytes_(std::move(bytes)) {}
  static std::shared_ptr<NSData> make(Bytes bytes);
  static const ObjectClass& classObject();
  static const ObjectClass& mutableClassObject();

  const Bytes& bytes() const { return bytes_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;

private:
  Bytes bytes_;
};

// NSDate: {"NS.time": seconds since 2001 as a real}.
class NSDate final : public Object {
public:
  explicit NSDate(Date date) : date_(date) {}
  static std::shared_ptr<NSDate> make(Date date);
  static const ObjectClass& classObject();

  const Date& date() const { return date_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;
  std::string description() const override;

private:
  Date date_;
};

// NSUUID: {"NS.uuidbytes": 16 bytes of data}.
class NSUUID final : public Object {
public:
  explicit NSUUID(UUID uuid) : uuid_(uuid) {}
  static std::shared_ptr<NSUUID> make(UUID uuid);
  static const ObjectClass& classObject();

  const UUID& uuid() const { return uuid_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return uuid_.uuidString(); }

private:
  UUID uuid_;
};

// NSURL: {"NS.base": base URL or $null, "NS.relative": string}. We always write an absolute
// URL with no base; a base that is present on reading is resolved against.
class NSURL final : public Object {
public:
  explicit NSURL(URL url) : url_(std::move(url)) {}
  static std::shared_ptr<NSURL> make(URL url);
  static const ObjectClass& classObject();

  const URL& url() const { return url_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return url_.absoluteString(); }

private:
  URL url_;
};

// NSNull: an object with no keys.
class NSNull final : public Object {
public:
  static std::shared_ptr<NSNull> null();
  static const ObjectClass& classObject();

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver&) const override {}
  bool isEqual(const Object& other) const override;
  size_t hash() const override { return 0x4e756c6c; }
  std::string description() const override { return "<null>"; }
};

// Resolves `relative` against `base` the way a URL with a base reads: an absolute reference
// stands alone, one starting with "/" replaces the path, any other replaces the last path
// component. None when the result is not a valid URL.
std::optional<URL> resolveURL(const std::optional<URL>& base, const std::string& relative);

} // namespace platform::archive
