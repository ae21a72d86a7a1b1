#include "ResultPrinting.h"

#include "ArchiveRendering.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/posix/HugePages.h"
#include "tasks/model/TaskClasses.h"

#include <stdexcept>

namespace agentctl {

std::optional<DecodedResult> decodeResult(std::span<const uint8_t> archive,
                                          std::span<const int> descriptors,
                                          platform::NSError* error) {
  tasks::registerTaskClasses();
  platform::archive::UnarchiveOptions options;
  options.fileDescriptors = descriptors;
  options.limits = receivedResultLimits();
  // The property list is read once, for the rendering and for the decoding. Bytes that are
  // not a readable keyed archive go to the unarchiver alone, whose error says why.
  std::string fault;
  auto rendering = ArchiveRendering::read(archive, fault);
  // The value is decoded with the classes that admitted the result, so admitting every
  // registered class lets records added to the library later come through unchanged.
  const platform::archive::ClassSet allowed = {&tasks::KLVResultObject::classObject(),
                                               &platform::archive::ObjectClass::NSObject()};
  platform::NSError decodingError;
  auto object =
      rendering
          ? platform::archive::unarchivedObjectOfClasses(allowed, rendering->propertyList(),
                                                         &decodingError, options)
          : platform::archive::unarchivedObjectOfClasses(allowed, archive, &decodingError, options);
  auto result = std::dynamic_pointer_cast<tasks::KLVResultObject>(object);
  if (result == nullptr) {
    if (decodingError.domain().empty()) {
      decodingError = platform::NSError(
          platform::NSCocoaErrorDomain, platform::NSCoderReadCorruptError,
          {{platform::NSDebugDescriptionErrorKey, "the reply holds no valid KLVResultObject"}});
    }
    platform::setError(error, decodingError);
    return std::nullopt;
  }
  if (!rendering) {
    platform::setError(error, platform::NSError(platform::NSCocoaErrorDomain,
                                                platform::NSCoderReadCorruptError,
                                                {{platform::NSDebugDescriptionErrorKey, fault}}));
    return std::nullopt;
  }

  // The line {"error":…,"type":N,"typeText":"…","value":…}, keys in the JSON writer's order.
  std::string text;
  text.reserve(archive.size() + archive.size() / 2); // what a large listing takes, about
  platform::posix::adviseHugePages(text.data(), text.capacity());
  try {
    text += "{\"error\":";
    rendering->writeRootMember("error", text);
    text += ",\"type\":";
    platform::json::write(platform::json::Value(result->type()), text);
    text += ",\"typeText\":";
    platform::json::appendString(result->klv_typeText(), text);
    text += ",\"value\":";
    rendering->writeRootMember("value", text);
    text += '}';
  } catch (const std::runtime_error& tooLarge) {
    platform::setError(
        error,
        platform::NSError(platform::NSCocoaErrorDomain, platform::NSCoderReadCorruptError,
                          {{platform::NSDebugDescriptionErrorKey, std::string(tooLarge.what())}}));
    return std::nullopt;
  }
  return DecodedResult{std::move(result), std::move(text)};
}

} // namespace agentctl
