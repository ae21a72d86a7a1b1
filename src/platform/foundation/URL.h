#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A URL held as its absolute string. Only strings that are valid URL references are accepted;
// file URLs carry their path percent-encoded.
class URL {
public:
  URL() = default;

  // Parses `text`; none when it is empty or not a valid URL reference.
  static std::optional<URL> fromString(std::string_view text);
  // The file URL of an absolute or relative path, with the path percent-encoded.
  static URL fileURLWithPath(std::string_view path);

  const std::string& absoluteString() const { return text_; }
  // The scheme in lower case, empty for a relative reference.
  std::string scheme() const;
  bool isFileURL() const { return scheme() == "file"; }
  // The percent-decoded path without a trailing slash (the root stays "/"); empty when the
  // decoded bytes are not valid UTF-8.
  std::string path() const;
  std::string lastPathComponent() const;
  // The file a file URL names: its percent-decoded path as bytes (file names need not be
  // UTF-8), without a trailing slash. None for other schemes, for a path that is not absolute
  // or holds a NUL, and for a malformed escape.
  std::optional<std::string> fileSystemPath() const;

  bool operator==(const URL&) const = default;

private:
  explicit URL(std::string text) : text_(std::move(text)) {}
  std::string_view rawPath() const;

  std::string text_;
};

// Percent-encodes every byte of `path` that may not stand in a URL path.
std::string percentEncodePath(std::string_view path);
// Decodes %XX escapes; none when an escape is malformed.
std::optional<std::string> percentDecode(std::string_view text);
bool isValidUTF8(std::string_view text);

} // namespace platform
