#include "utilities/SafeLabel.h"

namespace utilities {

bool isSafeLabel(std::string_view label) {
  if (label.empty() || label == "." || label == "..") {
    return false;
  }
  return label.find('/') == std::string_view::npos && label.find('\0') == std::string_view::npos;
}

} // namespace utilities
