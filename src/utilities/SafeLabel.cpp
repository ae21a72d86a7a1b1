#include "utilities/SafeLabel.h"

#include "utilities/PathComponents.h"

namespace utilities {

std::string labelFromJobFilePath(std::string_view path) {
  return deletingPathExtension(lastPathComponent(path));
}

bool isSafeLabel(std::string_view label) {
  if (label.empty() || label == "." || label == "..") {
    return false;
  }
  return label.find('/') == std::string_view::npos && label.find('\0') == std::string_view::npos;
}

} // namespace utilities
