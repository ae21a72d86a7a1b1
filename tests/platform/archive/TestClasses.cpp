#include "TestClasses.h"

#include "platform/archive/ErrorObject.h"

namespace archive_test {

const ObjectClass& TestBaseTask::classObject() {
  static const ObjectClass objectClass(
      "TestBaseTask", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        auto uuid = decodeBase(coder);
        return uuid ? std::make_shared<TestBaseTask>(*uuid) : nullptr;
      });
  return objectClass;
}

const ObjectClass& TestTask::classObject() {
  static const ObjectClass objectClass(
      "TestTask", &TestBaseTask::classObject(), true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        // Own keys first, then the base, as the task classes do.
        auto url = coder.decodeURLForKey("url");
        auto name = coder.decodeStringForKey("name");
        auto items = coder.decodeObjectOfClasses(
            {&NSArray::classObject(), &NSString::classObject()}, "items");
        Fields fields;
        fields.timeout = coder.decodeDoubleForKey("timeout");
        fields.flag = coder.decodeBoolForKey("flag");
        fields.depth = coder.decodeIntegerForKey("depth");
        fields.date = coder.decodeDateForKey("date");
        auto array = std::dynamic_pointer_cast<NSArray>(items);
        auto strings = array ? array->strings() : std::nullopt;
        if (!url || !name || !strings || fields.timeout == 0.0) {
          return nullptr;
        }
        fields.url = *url;
        fields.name = *name;
        fields.items = *strings;
        auto uuid = decodeBase(coder);
        return uuid ? std::make_shared<TestTask>(*uuid, std::move(fields)) : nullptr;
      });
  return objectClass;
}

void TestTask::encodeWithCoder(KeyedArchiver& coder) const {
  TestBaseTask::encodeWithCoder(coder);
  coder.encodeURL(fields_.url, "url");
  coder.encodeString(fields_.name, "name");
  coder.encodeDouble(fields_.timeout, "timeout");
  coder.encodeBool(fields_.flag, "flag");
  coder.encodeInteger(fields_.depth, "depth");
  coder.encodeObject(NSArray::makeWithStrings(fields_.items), "items");
  if (fields_.date) {
    coder.encodeDate(*fields_.date, "date");
  }
}

bool TestTask::isEqual(const Object& other) const {
  auto* task = dynamic_cast<const TestTask*>(&other);
  return TestBaseTask::isEqual(other) && task != nullptr && task->fields_.url == fields_.url &&
         task->fields_.name == fields_.name && task->fields_.timeout == fields_.timeout &&
         task->fields_.flag == fields_.flag && task->fields_.depth == fields_.depth &&
         task->fields_.items == fields_.items && task->fields_.date == fields_.date;
}

const ObjectClass& InsecureTask::classObject() {
  static const ObjectClass objectClass(
      "InsecureTask", &TestBaseTask::classObject(), false, [](KeyedUnarchiver& coder) -> ObjectPtr {
        auto uuid = decodeBase(coder);
        return uuid ? std::make_shared<InsecureTask>(*uuid) : nullptr;
      });
  return objectClass;
}

const ObjectClass& TestResult::classObject() {
  static const ObjectClass objectClass(
      "TestResult", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        const int64_t type = coder.decodeIntegerForKey("type");
        auto value = coder.decodeObjectForKey("value");
        auto error = coder.decodeObjectOfClass<NSErrorObject>("error");
        if (coder.error() || (type == 0 && (value || error))) {
          return nullptr;
        }
        return std::make_shared<TestResult>(type, std::move(value), std::move(error));
      });
  return objectClass;
}

ClassRegistry& testRegistry() {
  static ClassRegistry& registry = []() -> ClassRegistry& {
    static ClassRegistry instance;
    instance.registerClass(TestBaseTask::classObject());
    instance.registerClass(TestTask::classObject());
    instance.registerClass(InsecureTask::classObject());
    instance.registerClass(TestResult::classObject());
    return instance;
  }();
  return registry;
}

UnarchiveOptions testOptions() {
  UnarchiveOptions options;
  options.registry = &testRegistry();
  return options;
}

const ClassSet& standardClasses() {
  static const ClassSet classes = {
      &NSString::classObject(), &NSNumber::classObject(),     &NSData::classObject(),
      &NSDate::classObject(),   &NSUUID::classObject(),       &NSURL::classObject(),
      &NSArray::classObject(),  &NSSet::classObject(),        &NSDictionary::classObject(),
      &NSNull::classObject(),   &NSErrorObject::classObject()};
  return classes;
}

TestTask::Fields sampleFields() {
  TestTask::Fields fields;
  fields.url = URL::fileURLWithPath("/private/tmp/target");
  fields.name = "cleanup";
  fields.timeout = 30.0;
  fields.flag = true;
  fields.depth = 5;
  fields.items = {"x", "y"};
  fields.date = Date::fromTimeIntervalSinceReferenceDate(-1.25);
  return fields;
}

} // namespace archive_test
