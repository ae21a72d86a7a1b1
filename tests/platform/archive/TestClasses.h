#pragma once

// A small class hierarchy written the way task classes use the codec: a secure base class
// with a UUID, a secure subclass with fields of every kind, and a subclass that does not
// support secure coding.

#include "platform/archive/ClassRegistry.h"
#include "platform/archive/Collections.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

#include <optional>
#include <string>
#include <vector>

namespace archive_test {

using namespace platform;
using namespace platform::archive;

class TestBaseTask : public Object {
public:
  explicit TestBaseTask(UUID uuid) : uuid_(uuid) {}
  static const ObjectClass& classObject();

  const UUID& uuid() const { return uuid_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override { coder.encodeUUID(uuid_, "uuid"); }
  bool isEqual(const Object& other) const override {
    auto* task = dynamic_cast<const TestBaseTask*>(&other);
    return task != nullptr && task->uuid_ == uuid_;
  }

protected:
  // The base's part of initWithCoder: none when the uuid is missing.
  static std::optional<UUID> decodeBase(KeyedUnarchiver& coder) {
    return coder.decodeUUIDForKey("uuid");
  }

private:
  UUID uuid_;
};

class TestTask : public TestBaseTask {
public:
  struct Fields {
    URL url;
    std::string name;
    double timeout = 0;
    bool flag = false;
    int64_t depth = 0;
    std::vector<std::string> items;
    std::optional<Date> date;
  };

  TestTask(UUID uuid, Fields fields) : TestBaseTask(uuid), fields_(std::move(fields)) {}
  static const ObjectClass& classObject();

  const Fields& fields() const { return fields_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;
  bool isEqual(const Object& other) const override;

private:
  Fields fields_;
};

// Same shape as TestTask but refuses secure coding.
class InsecureTask : public TestBaseTask {
public:
  using TestBaseTask::TestBaseTask;
  static const ObjectClass& classObject();
  const ObjectClass& objectClass() const override { return classObject(); }
};

// A result holder like the task results: "value" is read with the caller's allowed classes,
// "error" only as an error.
class TestResult : public Object {
public:
  TestResult(int64_t type, ObjectPtr value, ObjectPtr error)
      : type_(type), value_(std::move(value)), error_(std::move(error)) {}
  static const ObjectClass& classObject();

  int64_t type() const { return type_; }
  const ObjectPtr& value() const { return value_; }
  const ObjectPtr& error() const { return error_; }

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeInteger(type_, "type");
    coder.encodeObject(value_, "value");
    coder.encodeObject(error_, "error");
  }

private:
  int64_t type_;
  ObjectPtr value_;
  ObjectPtr error_;
};

// A registry holding the standard classes and the test classes.
ClassRegistry& testRegistry();
UnarchiveOptions testOptions();
// The value classes of the library (strings to errors), as a decoder admits them.
const ClassSet& standardClasses();
TestTask::Fields sampleFields();

} // namespace archive_test
