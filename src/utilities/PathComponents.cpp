#include "utilities/PathComponents.h"

namespace utilities {
namespace {

std::string_view trimTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  return path;
}

} // namespace

std::string lastPathComponent(std::string_view path) {
  path = trimTrailingSlashes(path);
  if (path == "/") {
    return "/";
  }
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
  path = trimTrailingSlashes(path);
  auto slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return "";
  }
  if (slash == 0) {
    return "/";
  }
  return std::string(trimTrailingSlashes(path.substr(0, slash)));
}

std::string deletingPathExtension(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
    return std::string(name);
  }
  return std::string(name.substr(0, dot));
}

std::string appendingPathComponent(std::string_view directory, std::string_view component) {
  std::string out(directory);
  if (!out.empty() && out.back() != '/') {
    out += '/';
  }
  out += component;
  return out;
}

std::string withoutTrailingSlashes(std::string_view path) {
  return std::string(trimTrailingSlashes(path));
}

bool hasFileSystemRepresentation(std::string_view path) {
  return !path.empty() && path.find('\0') == std::string_view::npos;
}

} // namespace utilities
