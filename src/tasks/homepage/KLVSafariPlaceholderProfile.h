#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"
#include "tasks/files/KLVPlistService.h"

#include <memory>
#include <string>

namespace tasks {

// The placeholder configuration profile that makes older systems apply managed preferences:
// one user-scoped profile whose only payload configures nothing.
platform::PropertyList safariPlaceholderProfile();

// The placeholder written as "dummy.mobileconfig" into a private folder (mode 0700) made for it
// inside the temporary folder, so that nobody else can prepare, swap or read the file that the
// profile tool installs as root. The folder and whatever is left in it go with this object.
class KLVSafariPlaceholderProfileFile {
public:
  static constexpr const char* kFileName = "dummy.mobileconfig";

  // Null with `error` set when the folder or the file could not be made.
  static std::unique_ptr<KLVSafariPlaceholderProfileFile>
  write(const KLVPlistService& plistService, const platform::URL& temporaryDirectory,
        platform::NSError* error);

  KLVSafariPlaceholderProfileFile(const KLVSafariPlaceholderProfileFile&) = delete;
  KLVSafariPlaceholderProfileFile& operator=(const KLVSafariPlaceholderProfileFile&) = delete;
  ~KLVSafariPlaceholderProfileFile();

  platform::URL url() const { return platform::URL::fileURLWithPath(filePath()); }
  std::string filePath() const { return directory_ + "/" + kFileName; }
  // Deletes the file now; false with `error` set when that fails.
  bool removeFile(platform::NSError* error) const;

private:
  explicit KLVSafariPlaceholderProfileFile(std::string directory)
      : directory_(std::move(directory)) {}

  std::string directory_;
};

} // namespace tasks
