#pragma once

#include "platform/security/OpenSSLTypes.h"
#include "platform/security/SecStatus.h"

#include <memory>
#include <optional>
#include <string>

namespace platform::security {

// The one directory of trusted root certificates (PEM files ending in ".pem") compiled into
// the agent. It and every directory above it must be owned by root and not writable by group
// or others.
inline constexpr const char* kDefaultTrustAnchorsDirectory = "/etc/quillby-agent/anchors";

// A set of trusted root certificates loaded from one directory.
class TrustAnchors {
public:
  enum class Mode {
    production, // ownership and permission checks on the directory, its parents and files
    testing,    // a directory that a test made; no ownership checks
  };

  // Loads every "*.pem" file of `directory` (at most 256 files of at most 1 MiB). Fails with
  // errSecCSSignatureFailed when the directory or a file is refused or no certificate loads.
  static SecStatus load(const std::string& directory, Mode mode,
                        std::shared_ptr<const TrustAnchors>& anchors);
  // The production anchors, or the testing ones of `directory` when one is given.
  static SecStatus loadDefaultOr(const std::optional<std::string>& directory,
                                 std::shared_ptr<const TrustAnchors>& anchors);

  X509_STORE* store() const { return store_.get(); }
  size_t count() const { return count_; }

private:
  X509StorePtr store_;
  size_t count_ = 0;
};

} // namespace platform::security
