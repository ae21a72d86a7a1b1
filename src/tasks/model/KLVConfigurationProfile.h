#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/Date.h"

#include <optional>
#include <string>

namespace tasks {

// One installed configuration profile, as the profile tasks send it in both directions.
// Decoding fails when one of the four texts is missing or empty.
class KLVConfigurationProfile final : public platform::archive::Object {
public:
  struct Fields {
    std::string userName;
    std::string profileName;
    std::string profileIdentifier;
    std::string profileUUIDText;
    bool isUnderAdminPrivilege = false;
    bool isRemovalDisallowed = false;
    std::optional<platform::Date> installationDate;
  };

  explicit KLVConfigurationProfile(Fields fields) : fields_(std::move(fields)) {}
  static const platform::archive::ObjectClass& classObject();

  const Fields& fields() const { return fields_; }

  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  // Over the installation date, the removal flag, the user name, identifier and UUID text.
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return fields_.profileIdentifier; }

private:
  Fields fields_;
};

} // namespace tasks
