#pragma once

#include "platform/foundation/NSError.h"

#include <string>
#include <string_view>

namespace platform::archive {

// The error the platform's unarchiver reports for an archive it cannot read: Cocoa error 4864
// ("The data couldn’t be read because it isn’t in the correct format.") whose debug
// description says what was wrong.
NSError readCorruptError(std::string debugDescription);
// The error the platform's archiver reports for a value it cannot encode: Cocoa error 4866.
NSError invalidValueError(std::string debugDescription);

// The debug descriptions of the refusals that secure decoding makes.
std::string unexpectedClassDescription(std::string_view key, std::string_view className,
                                       std::string_view allowedClassNames);
std::string unknownClassDescription(std::string_view key, std::string_view className);
std::string insecureClassDescription(std::string_view className);

} // namespace platform::archive
