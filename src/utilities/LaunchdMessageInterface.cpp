#include "utilities/LaunchdMessageInterface.h"

namespace utilities {

std::optional<platform::PropertyList>
NoLaunchdMessageInterface::sendMessage(const platform::PropertyList&) {
  return std::nullopt;
}

} // namespace utilities
