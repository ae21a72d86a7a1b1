#include "tasks/model/KLVPrivilegedAccessTask.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <stdexcept>

namespace tasks {

namespace {
[[noreturn]] void abstractMethod(const char* selector, const platform::archive::Object& receiver) {
  throw std::logic_error(std::string("Abstract method: '") + selector + "' called on: '" +
                         receiver.description() + "'");
}
} // namespace

const platform::archive::ObjectClass& KLVPrivilegedAccessTask::classObject() {
  // The base decodes nothing: every archive names a concrete task class.
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessTask", nullptr, true,
      [](platform::archive::KeyedUnarchiver&) -> platform::archive::ObjectPtr { return nullptr; });
  return objectClass;
}

std::string KLVPrivilegedAccessTask::identifier() const {
  abstractMethod("identifier", *this);
}

ResultPtr KLVPrivilegedAccessTask::perform() {
  abstractMethod("perform", *this);
}

void KLVPrivilegedAccessTask::encodeWithCoder(platform::archive::KeyedArchiver& coder) const {
  coder.encodeUUID(uuid_, "uuid");
}

bool KLVPrivilegedAccessTask::isEqual(const platform::archive::Object& other) const {
  return other.isKindOfClass(objectClass()) &&
         static_cast<const KLVPrivilegedAccessTask&>(other).uuid_ == uuid_;
}

std::optional<platform::UUID>
KLVPrivilegedAccessTask::decodeUUID(platform::archive::KeyedUnarchiver& coder) {
  return coder.decodeUUIDForKey("uuid");
}

} // namespace tasks
