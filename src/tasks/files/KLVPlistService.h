#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"

namespace tasks {

// Writes property lists as XML files for the tools that read them.
class KLVPlistService {
public:
  virtual ~KLVPlistService() = default;

  // Writes `dictionary` to a new file at `url` (mode 0600). The file must not exist yet and a
  // symbolic link in its place is refused, so a file prepared by someone else is never
  // written through. On failure nothing is left behind and `error` holds the file error.
  virtual bool writeDictionary(const platform::PropertyList& dictionary, const platform::URL& url,
                               platform::NSError* error) const;
};

} // namespace tasks
