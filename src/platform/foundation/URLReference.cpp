#include "platform/foundation/URLReference.h"

#include <optional>

namespace platform {

namespace {

// The five components of a URI reference (RFC 3986 appendix B); an absent component differs
// from an empty one.
struct Components {
  std::optional<std::string_view> scheme;
  std::optional<std::string_view> authority;
  std::string_view path;
  std::optional<std::string_view> query;
  std::optional<std::string_view> fragment;
};

Components split(std::string_view text) {
  Components parts;
  size_t index = 0;
  const size_t schemeEnd = text.find_first_of(":/?#");
  if (schemeEnd != std::string_view::npos && schemeEnd > 0 && text[schemeEnd] == ':') {
    parts.scheme = text.substr(0, schemeEnd);
    index = schemeEnd + 1;
  }
  if (text.substr(index, 2) == "//") {
    size_t end = text.find_first_of("/?#", index + 2);
    end = end == std::string_view::npos ? text.size() : end;
    parts.authority = text.substr(index + 2, end - index - 2);
    index = end;
  }
  size_t pathEnd = text.find_first_of("?#", index);
  pathEnd = pathEnd == std::string_view::npos ? text.size() : pathEnd;
  parts.path = text.substr(index, pathEnd - index);
  index = pathEnd;
  if (index < text.size() && text[index] == '?') {
    size_t end = text.find('#', index + 1);
    end = end == std::string_view::npos ? text.size() : end;
    parts.query = text.substr(index + 1, end - index - 1);
    index = end;
  }
  if (index < text.size() && text[index] == '#') {
    parts.fragment = text.substr(index + 1);
  }
  return parts;
}

// Drops the last segment of `output` and its preceding "/", if any.
void removeLastSegment(std::string& output) {
  const size_t slash = output.rfind('/');
  output.erase(slash == std::string::npos ? 0 : slash);
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.remove_prefix(3);
      removeLastSegment(output);
    } else if (input == "/..") {
      input = "/";
      removeLastSegment(output);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t next = input.find('/', input.front() == '/' ? 1 : 0);
      const size_t length = next == std::string_view::npos ? input.size() : next;
      output.append(input.substr(0, length));
      input.remove_prefix(length);
    }
  }
  return output;
}

// RFC 3986 section 5.2.3.
std::string merge(const Components& base, std::string_view referencePath) {
  if (base.authority && base.path.empty()) {
    return "/" + std::string(referencePath);
  }
  const size_t slash = base.path.rfind('/');
  if (slash == std::string_view::npos) {
    return std::string(referencePath);
  }
  return std::string(base.path.substr(0, slash + 1)) + std::string(referencePath);
}

} // namespace

std::string resolveURLReference(std::string_view baseText, std::string_view referenceText) {
  const Components base = split(baseText);
  const Components reference = split(referenceText);
  std::optional<std::string_view> scheme;
  std::optional<std::string_view> authority;
  std::string path;
  std::optional<std::string_view> query;
  if (reference.scheme) {
    scheme = reference.scheme;
    authority = reference.authority;
    path = removeDotSegments(reference.path);
    query = reference.query;
  } else {
    scheme = base.scheme;
    if (reference.authority) {
      authority = reference.authority;
      path = removeDotSegments(reference.path);
      query = reference.query;
    } else {
      authority = base.authority;
      if (reference.path.empty()) {
        path = std::string(base.path);
        query = reference.query ? reference.query : base.query;
      } else {
        path = removeDotSegments(reference.path.front() == '/' ? reference.path
                                                               : merge(base, reference.path));
        query = reference.query;
      }
    }
  }
  // Section 5.3: recomposition.
  std::string result;
  if (scheme) {
    result.append(*scheme).append(":");
  }
  if (authority) {
    result.append("//").append(*authority);
  }
  result.append(path);
  if (query) {
    result.append("?").append(*query);
  }
  if (reference.fragment) {
    result.append("#").append(*reference.fragment);
  }
  return result;
}

} // namespace platform
