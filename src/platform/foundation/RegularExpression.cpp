#include "platform/foundation/RegularExpression.h"

#include <re2/re2.h>

namespace platform {
namespace {

constexpr int64_t kRegularExpressionPatternError = 2048;
constexpr const char* kUnicodeWordClass = R"(\p{L}\p{M}\p{Nd}\p{Pc})";
constexpr const char* kUnicodeDigitClass = R"(\p{Nd})";

// Rewrites the platform's pattern syntax into the engine's: "\_" is a plain underscore, and \w
// and \d become their Unicode classes (inside a bracket expression without extra brackets).
std::string translatePattern(std::string_view pattern) {
  std::string translated;
  translated.reserve(pattern.size() * 2);
  bool inClass = false;
  for (size_t index = 0; index < pattern.size(); ++index) {
    const char character = pattern[index];
    if (character == '\\' && index + 1 < pattern.size()) {
      const char escaped = pattern[++index];
      if (escaped == '_') {
        translated += '_';
      } else if (escaped == 'w' || escaped == 'd') {
        const char* unicodeClass = escaped == 'w' ? kUnicodeWordClass : kUnicodeDigitClass;
        translated += inClass ? std::string(unicodeClass) : "[" + std::string(unicodeClass) + "]";
      } else {
        translated += '\\';
        translated += escaped;
      }
      continue;
    }
    if (character == '[' && !inClass) {
      inClass = true;
      translated += character;
      // A "]" right after "[" or "[^" is a member, not the end of the class.
      if (index + 1 < pattern.size() && pattern[index + 1] == '^') {
        translated += pattern[++index];
      }
      if (index + 1 < pattern.size() && pattern[index + 1] == ']') {
        translated += pattern[++index];
      }
      continue;
    }
    if (character == ']' && inClass) {
      inClass = false;
    }
    translated += character;
  }
  return translated;
}

// The length of the UTF-8 character that starts at `text[offset]` (1 for a stray byte).
size_t characterLength(std::string_view text, size_t offset) {
  const auto lead = static_cast<unsigned char>(text[offset]);
  size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  return std::min(length, text.size() - offset);
}

} // namespace

std::optional<RegularExpression> RegularExpression::make(std::string_view pattern, unsigned options,
                                                         NSError* error) {
  RE2::Options engineOptions;
  engineOptions.set_case_sensitive((options & kCaseInsensitive) == 0);
  engineOptions.set_log_errors(false);
  engineOptions.set_encoding(RE2::Options::EncodingUTF8);
  auto engine = std::make_shared<const re2::RE2>(translatePattern(pattern), engineOptions);
  if (!engine->ok()) {
    if (error) {
      *error = NSError(NSCocoaErrorDomain, kRegularExpressionPatternError,
                       {{"NSInvalidValue", std::string(pattern)},
                        {NSDebugDescriptionErrorKey, engine->error()}});
    }
    return std::nullopt;
  }
  return RegularExpression(std::move(engine));
}

size_t RegularExpression::numberOfCaptureGroups() const {
  return static_cast<size_t>(engine_->NumberOfCapturingGroups());
}

std::vector<RegularExpression::Match> RegularExpression::matches(std::string_view text) const {
  std::vector<Match> found;
  const size_t rangeCount = numberOfCaptureGroups() + 1;
  std::vector<re2::StringPiece> pieces(rangeCount);
  const re2::StringPiece input(text.data(), text.size());
  size_t position = 0;
  while (position <= text.size() && engine_->Match(input, position, text.size(), RE2::UNANCHORED,
                                                   pieces.data(), static_cast<int>(rangeCount))) {
    Match match;
    match.ranges.reserve(rangeCount);
    for (const auto& piece : pieces) {
      match.ranges.push_back(piece.data() ? std::optional<std::string_view>(
                                                std::string_view(piece.data(), piece.size()))
                                          : std::nullopt);
    }
    const size_t matchStart = static_cast<size_t>(pieces[0].data() - text.data());
    const size_t matchEnd = matchStart + pieces[0].size();
    found.push_back(std::move(match));
    if (matchEnd > matchStart) {
      position = matchEnd;
    } else if (matchEnd < text.size()) {
      position = matchEnd + characterLength(text, matchEnd);
    } else {
      break;
    }
  }
  return found;
}

std::optional<RegularExpression::Match> RegularExpression::firstMatch(std::string_view text) const {
  const size_t rangeCount = numberOfCaptureGroups() + 1;
  std::vector<re2::StringPiece> pieces(rangeCount);
  if (!engine_->Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED,
                      pieces.data(), static_cast<int>(rangeCount))) {
    return std::nullopt;
  }
  Match match;
  for (const auto& piece : pieces) {
    match.ranges.push_back(
        piece.data() ? std::optional<std::string_view>(std::string_view(piece.data(), piece.size()))
                     : std::nullopt);
  }
  return match;
}

std::string RegularExpression::replacingMatches(std::string_view text,
                                                std::string_view replacement) const {
  std::string result;
  size_t copied = 0;
  for (const auto& match : matches(text)) {
    const std::string_view whole = *match.ranges.front();
    const size_t start = static_cast<size_t>(whole.data() - text.data());
    result.append(text.substr(copied, start - copied));
    result.append(replacement);
    copied = start + whole.size();
  }
  result.append(text.substr(copied));
  return result;
}

} // namespace platform
