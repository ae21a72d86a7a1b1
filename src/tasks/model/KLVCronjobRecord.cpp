#include "tasks/model/KLVCronjobRecord.h"

#include "platform/archive/Collections.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

namespace tasks {

using platform::archive::NSArray;
using platform::archive::NSString;

const platform::archive::ObjectClass& KLVCronjobRecord::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVCronjobRecord", nullptr, true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto source = coder.decodeStringForKey("source");
        auto schedulerPattern = coder.decodeStringForKey("schedulerPattern");
        auto commandText = coder.decodeStringForKey("commandText");
        auto paths = std::dynamic_pointer_cast<NSArray>(coder.decodeObjectOfClasses(
            {&NSArray::classObject(), &NSString::classObject()}, "executablePaths"));
        if (!source || paths == nullptr || coder.error()) {
          return nullptr;
        }
        auto executablePaths = paths->strings();
        if (!executablePaths) {
          return nullptr;
        }
        return std::make_shared<KLVCronjobRecord>(std::move(*source), schedulerPattern.value_or(""),
                                                  commandText.value_or(""),
                                                  std::move(*executablePaths));
      });
  return objectClass;
}

void KLVCronjobRecord::encodeWithCoder(platform::archive::KeyedArchiver& coder) const {
  coder.encodeString(source_, "source");
  coder.encodeString(schedulerPattern_, "schedulerPattern");
  coder.encodeString(commandText_, "commandText");
  coder.encodeObject(NSArray::makeWithStrings(executablePaths_), "executablePaths");
}

bool KLVCronjobRecord::isEqual(const platform::archive::Object& other) const {
  const auto* record = dynamic_cast<const KLVCronjobRecord*>(&other);
  return record != nullptr && record->source_ == source_ &&
         record->schedulerPattern_ == schedulerPattern_ && record->commandText_ == commandText_ &&
         record->executablePaths_ == executablePaths_;
}

size_t KLVCronjobRecord::hash() const {
  const std::hash<std::string> stringHash;
  return stringHash(source_) ^ stringHash(schedulerPattern_) ^ stringHash(commandText_) ^
         executablePaths_.size();
}

} // namespace tasks
