#include "tasks/model/KLVConfigurationProfile.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/Values.h"

namespace tasks {

const platform::archive::ObjectClass& KLVConfigurationProfile::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVConfigurationProfile", nullptr, true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        Fields fields;
        for (auto [key, field] : {std::pair{"userName", &fields.userName},
                                  std::pair{"profileName", &fields.profileName},
                                  std::pair{"profileIdentifier", &fields.profileIdentifier},
                                  std::pair{"profileUUIDText", &fields.profileUUIDText}}) {
          auto text = coder.decodeStringForKey(key);
          if (!text || text->empty()) {
            return nullptr;
          }
          *field = std::move(*text);
        }
        fields.isUnderAdminPrivilege = coder.decodeBoolForKey("isUnderAdminPrivilege");
        fields.isRemovalDisallowed = coder.decodeBoolForKey("isRemovalDisallowed");
        fields.installationDate = coder.decodeDateForKey("installationDate");
        if (coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVConfigurationProfile>(std::move(fields));
      });
  return objectClass;
}

void KLVConfigurationProfile::encodeWithCoder(platform::archive::KeyedArchiver& coder) const {
  coder.encodeString(fields_.userName, "userName");
  coder.encodeString(fields_.profileName, "profileName");
  coder.encodeString(fields_.profileIdentifier, "profileIdentifier");
  coder.encodeString(fields_.profileUUIDText, "profileUUIDText");
  coder.encodeBool(fields_.isUnderAdminPrivilege, "isUnderAdminPrivilege");
  coder.encodeBool(fields_.isRemovalDisallowed, "isRemovalDisallowed");
  coder.encodeObject(fields_.installationDate
                         ? platform::archive::NSDate::make(*fields_.installationDate)
                         : nullptr,
                     "installationDate");
}

bool KLVConfigurationProfile::isEqual(const platform::archive::Object& other) const {
  const auto* profile = dynamic_cast<const KLVConfigurationProfile*>(&other);
  if (profile == nullptr) {
    return false;
  }
  const Fields& theirs = profile->fields_;
  return fields_.installationDate == theirs.installationDate &&
         fields_.isRemovalDisallowed == theirs.isRemovalDisallowed &&
         fields_.userName == theirs.userName &&
         fields_.profileIdentifier == theirs.profileIdentifier &&
         fields_.profileUUIDText == theirs.profileUUIDText;
}

size_t KLVConfigurationProfile::hash() const {
  const std::hash<std::string> stringHash;
  return stringHash(fields_.userName) ^ stringHash(fields_.profileIdentifier) ^
         stringHash(fields_.profileUUIDText);
}

} // namespace tasks
