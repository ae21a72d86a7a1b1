#include "platform/foundation/DecodingError.h"

namespace platform {

NSError DecodingError::toNSError() const {
  const bool missing = kind_ == Kind::keyNotFound || kind_ == Kind::valueNotFound;
  return NSError(NSCocoaErrorDomain, missing ? NSCoderValueNotFoundError : NSCoderReadCorruptError,
                 {{NSDebugDescriptionErrorKey, debugDescription_}, {"NSCodingPath", codingPath_}});
}

NSError EncodingError::toNSError() const {
  return NSError(
      NSCocoaErrorDomain, 4866,
      {{NSDebugDescriptionErrorKey, debugDescription_},
       {NSLocalizedDescriptionKey,
        std::string("The data couldn’t be written because it isn’t in the correct format.")}});
}

} // namespace platform
