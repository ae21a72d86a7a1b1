#include "platform/archive/ClassRegistry.h"

#include "platform/archive/Collections.h"
#include "platform/archive/ErrorObject.h"
#include "platform/archive/FileHandle.h"
#include "platform/archive/Values.h"

#include <mutex>

namespace platform::archive {

ClassRegistry::ClassRegistry() {
  for (const ObjectClass* standard : {
           &NSString::classObject(),
           &NSString::mutableClassObject(),
           &NSNumber::classObject(),
           &NSData::classObject(),
           &NSData::mutableClassObject(),
           &NSDate::classObject(),
           &NSUUID::classObject(),
           &NSURL::classObject(),
           &NSNull::classObject(),
           &NSArray::classObject(),
           &NSArray::mutableClassObject(),
           &NSSet::classObject(),
           &NSSet::mutableClassObject(),
           &NSDictionary::classObject(),
           &NSDictionary::mutableClassObject(),
           &NSErrorObject::classObject(),
           &NSFileHandle::classObject(),
       }) {
    classes_.emplace(standard->name(), standard);
  }
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry registry;
  return registry;
}

bool ClassRegistry::registerClass(const ObjectClass& objectClass) {
  std::unique_lock lock(mutex_);
  auto [it, inserted] = classes_.emplace(objectClass.name(), &objectClass);
  return inserted || it->second == &objectClass;
}

const ObjectClass* ClassRegistry::classNamed(std::string_view name) const {
  std::shared_lock lock(mutex_);
  auto it = classes_.find(name);
  return it != classes_.end() ? it->second : nullptr;
}

} // namespace platform::archive
