#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/RegularExpression.h"
#include "tasks/model/KLVConfigurationProfile.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tasks {

// Reads the verbose listing of the profile tool. Only its attribute lines count:
//   <group> attribute: <attribute>: <value, the rest of the line>
// The group is "_computerlevel[n]" for device profiles and "<user>[n]" for a user's.
class KLVProfileUtilityOutputParser {
public:
  KLVProfileUtilityOutputParser();

  // One profile per group that names itself completely; groups missing "name",
  // "profileIdentifier", "profileUUID" (each non-empty) or "removalDisallowed" are dropped, and
  // so are groups whose name is nothing but bracketed numbers. Lines holding a NUL byte are
  // skipped.
  // The order of the profiles is not meaningful.
  std::vector<std::shared_ptr<KLVConfigurationProfile>>
  parseConfigurationProfilesFromOutput(std::string_view output) const;

  // The installation date in the form "yyyy-MM-dd HH:mm:ss Z" ("2024-03-05 14:07:09 +0000"),
  // the zone as +HHMM, +HH:MM, "Z" or "GMT"; none for anything else.
  static std::optional<platform::Date> parseInstallationDate(std::string_view text);

private:
  std::optional<platform::RegularExpression> attributeLine_;
  std::optional<platform::RegularExpression> bracketedNumber_;
};

} // namespace tasks
