#pragma once

#include "lipo/LRLipo.h"
#include "platform/foundation/URL.h"

#include <memory>
#include <string>

namespace operations {

// Thins a universal executable that the client may not write itself, keeping only the slice of
// the architecture the client names. Safe to call from several threads at once.
class LipoPrivilegedOperations {
public:
  LipoPrivilegedOperations();
  explicit LipoPrivilegedOperations(std::shared_ptr<const lipo::LRLipo> lipo);

  // Rewrites the file at `url` so that only the `compatibleArchitecture` slice remains and
  // answers true; throws the thinning library's error (as platform::NSErrorException)
  // otherwise. The architecture name is passed through unchecked: the client chooses it.
  bool removeUnnecessaryThinFiles(const platform::URL& url,
                                  const std::string& compatibleArchitecture) const;

  const lipo::LRLipo& lipo() const { return *lipo_; }

private:
  std::shared_ptr<const lipo::LRLipo> lipo_;
};

} // namespace operations
