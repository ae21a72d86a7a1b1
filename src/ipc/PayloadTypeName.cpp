#include "ipc/PayloadTypeName.h"

namespace ipc {

std::string payloadTypeNameOf(std::string_view reflectingName) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (start <= reflectingName.size()) {
    size_t dot = reflectingName.find('.', start);
    if (dot == std::string_view::npos) {
      dot = reflectingName.size();
    }
    if (dot > start) {
      pieces.push_back(reflectingName.substr(start, dot - start));
    }
    start = dot + 1;
  }
  if (pieces.size() <= 1) {
    return std::string(reflectingName);
  }
  std::string name;
  for (size_t i = 1; i < pieces.size(); ++i) {
    if (i > 1) {
      name.push_back('.');
    }
    name.append(pieces[i]);
  }
  return name;
}

} // namespace ipc
