#include "tasks/model/KLVPrivilegedURL.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

namespace tasks {

KLVPrivilegedURL::KLVPrivilegedURL(std::string originPath,
                                   std::optional<std::string> canonicalStandartizedPath,
                                   bool isDirectory, bool isExecutable, bool isMachOBinary)
    : originPath_(std::move(originPath)),
      canonicalStandartizedPath_(std::move(canonicalStandartizedPath)), isDirectory_(isDirectory),
      isExecutable_(isExecutable), isMachOBinary_(isMachOBinary) {}

const platform::archive::ObjectClass& KLVPrivilegedURL::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedURL", nullptr, true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto originPath = coder.decodeStringForKey("originPath");
        auto canonicalPath = coder.decodeStringForKey("canonicalStandartizedPath");
        const bool isDirectory = coder.decodeBoolForKey("isDirectory");
        const bool isExecutable = coder.decodeBoolForKey("isExecutable");
        const bool isMachOBinary = coder.decodeBoolForKey("isMachOBinary");
        if (!originPath || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedURL>(std::move(*originPath), std::move(canonicalPath),
                                                  isDirectory, isExecutable, isMachOBinary);
      });
  return objectClass;
}

void KLVPrivilegedURL::encodeWithCoder(platform::archive::KeyedArchiver& coder) const {
  coder.encodeString(originPath_, "originPath");
  if (canonicalStandartizedPath_) {
    coder.encodeString(*canonicalStandartizedPath_, "canonicalStandartizedPath");
  } else {
    coder.encodeObject(nullptr, "canonicalStandartizedPath");
  }
  coder.encodeBool(isDirectory_, "isDirectory");
  coder.encodeBool(isExecutable_, "isExecutable");
  coder.encodeBool(isMachOBinary_, "isMachOBinary");
}

bool KLVPrivilegedURL::isEqual(const platform::archive::Object& other) const {
  const auto* entry = dynamic_cast<const KLVPrivilegedURL*>(&other);
  return entry != nullptr && entry->originPath_ == originPath_ &&
         entry->canonicalStandartizedPath_ == canonicalStandartizedPath_ &&
         entry->isDirectory_ == isDirectory_ && entry->isExecutable_ == isExecutable_ &&
         entry->isMachOBinary_ == isMachOBinary_;
}

size_t KLVPrivilegedURL::hash() const {
  const std::hash<std::string> stringHash;
  return stringHash(originPath_) ^ stringHash(canonicalStandartizedPath_.value_or("")) ^
         static_cast<size_t>(isDirectory_) ^ static_cast<size_t>(isExecutable_) ^
         static_cast<size_t>(isMachOBinary_);
}

} // namespace tasks
