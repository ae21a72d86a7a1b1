#include "utilities/StringsTable.h"

namespace utilities {

std::string errorsTableString(const std::string& key) {
  return key;
}

} // namespace utilities
