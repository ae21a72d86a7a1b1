// Parses arbitrary bytes as the profile tool's verbose listing and checks what the fetcher
// relies on: every profile is complete, device profiles belong to "root", and the listing, when
// it is text, archives and decodes as it was.
#include "platform/archive/Collections.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/foundation/URL.h"
#include "tasks/model/KLVConfigurationProfile.h"
#include "tasks/model/TaskClasses.h"
#include "tasks/profiles/KLVProfileUtilityOutputParser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const tasks::KLVProfileUtilityOutputParser parser;
  static const bool registered = [] {
    tasks::registerTaskClasses();
    return true;
  }();
  (void)registered;
  const std::string_view listing(reinterpret_cast<const char*>(data), size);
  auto profiles = parser.parseConfigurationProfilesFromOutput(listing);

  std::vector<platform::archive::ObjectPtr> objects;
  for (const auto& profile : profiles) {
    const auto& fields = profile->fields();
    if (fields.userName.empty() || fields.profileName.empty() || fields.profileIdentifier.empty() ||
        fields.profileUUIDText.empty()) {
      std::abort();
    }
    if (fields.isUnderAdminPrivilege && fields.userName != "root") {
      std::abort();
    }
    objects.push_back(profile);
  }
  // The service hands the parser only valid text.
  if (!platform::isValidUTF8(listing)) {
    return 0;
  }
  platform::NSError error;
  auto bytes = platform::archive::archivedDataWithRootObject(
      platform::archive::NSArray::make(objects), true, &error);
  if (!bytes) {
    std::abort();
  }
  auto copy = platform::archive::unarchivedObjectOfClasses(
      {&platform::archive::NSArray::classObject(), &tasks::KLVConfigurationProfile::classObject()},
      *bytes, &error);
  auto array = std::dynamic_pointer_cast<platform::archive::NSArray>(copy);
  if (array == nullptr || array->count() != objects.size()) {
    std::abort();
  }
  for (size_t index = 0; index < objects.size(); ++index) {
    if (!array->objects()[index]->isEqual(*objects[index])) {
      std::abort();
    }
  }
  return 0;
}
