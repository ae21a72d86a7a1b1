#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/security/Certificate.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::security {

// The embedded Info property list lives in this ELF section of a signed executable.
inline constexpr const char* kInfoPlistSectionName = "__info_plist";

// What a signature says about code.
struct SigningInformation {
  std::string path;                          // the file as it was opened
  std::string identifier;                    // the signing identifier
  std::optional<std::string> teamIdentifier; // the leaf certificate's first subject OU
  Certificate leaf;                          // the signing certificate
  std::vector<Certificate> certificates;     // leaf to root; the verified chain when validated
  std::shared_ptr<const PropertyList> info;  // the "__info_plist" section, when present
  uint64_t codeLength = 0;                   // bytes covered by the signature
  bool validated = false;                    // true when this came from a successful validity check
};

} // namespace platform::security
