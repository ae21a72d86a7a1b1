#include "platform/archive/ArchiveErrors.h"

namespace platform::archive {

NSError readCorruptError(std::string debugDescription) {
  return NSError(NSCocoaErrorDomain, NSCoderReadCorruptError,
                 {{NSDebugDescriptionErrorKey, std::move(debugDescription)}});
}

NSError invalidValueError(std::string debugDescription) {
  return NSError(NSCocoaErrorDomain, NSCoderInvalidValueError,
                 {{NSDebugDescriptionErrorKey, std::move(debugDescription)}});
}

std::string unexpectedClassDescription(std::string_view key, std::string_view className,
                                       std::string_view allowedClassNames) {
  return "value for key '" + std::string(key) + "' was of unexpected class '" +
         std::string(className) + "'. Allowed classes are '{(" + std::string(allowedClassNames) +
         ")}'.";
}

std::string unknownClassDescription(std::string_view key, std::string_view className) {
  return "cannot decode object of class (" + std::string(className) + ") for key (" +
         std::string(key) +
         "); the class may be defined in source code or a library that is not linked";
}

std::string insecureClassDescription(std::string_view className) {
  return "Class '" + std::string(className) +
         "' does not support secure coding; it cannot be decoded from an archive that "
         "requires secure coding";
}

} // namespace platform::archive
