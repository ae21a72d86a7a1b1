#pragma once

#include "platform/foundation/URL.h"

namespace tasks {

// Where a service puts the short-lived files it hands to a tool.
class KLVTemporaryDirectoryProvider {
public:
  virtual ~KLVTemporaryDirectoryProvider() = default;
  virtual platform::URL temporaryDirectoryURL() const = 0;
};

} // namespace tasks
