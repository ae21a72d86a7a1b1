#include "tasks/model/KLVCronjob.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

namespace tasks {

const platform::archive::ObjectClass& KLVCronjob::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVCronjob", nullptr, true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto userName = coder.decodeStringForKey("userName");
        auto record = coder.decodeObjectOfClass<KLVCronjobRecord>("cronjobRecord");
        auto date = coder.decodeDateForKey("lastModificationDate");
        if (!userName || record == nullptr || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVCronjob>(std::move(*userName), std::move(record), date);
      });
  return objectClass;
}

void KLVCronjob::encodeWithCoder(platform::archive::KeyedArchiver& coder) const {
  coder.encodeString(userName_, "userName");
  // The archiver only reads the record; it takes objects as mutable pointers.
  coder.encodeObject(std::const_pointer_cast<KLVCronjobRecord>(cronjobRecord_), "cronjobRecord");
  coder.encodeObject(lastModificationDate_ ? platform::archive::NSDate::make(*lastModificationDate_)
                                           : nullptr,
                     "lastModificationDate");
}

bool KLVCronjob::isEqual(const platform::archive::Object& other) const {
  const auto* job = dynamic_cast<const KLVCronjob*>(&other);
  return job != nullptr && job->userName_ == userName_ &&
         job->lastModificationDate_ == lastModificationDate_ &&
         job->cronjobRecord_->isEqual(*cronjobRecord_);
}

size_t KLVCronjob::hash() const {
  return std::hash<std::string>()(userName_) ^ cronjobRecord_->hash();
}

} // namespace tasks
