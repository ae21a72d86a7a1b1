#pragma once

#include "platform/foundation/NSError.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

namespace platform {

// The platform's regular expressions, on a linear-time engine: matching never backtracks, so a
// hostile line costs time in proportion to its length and no more.
//
// Patterns use the platform's syntax for what the system needs: groups, alternation, classes,
// \w \d \s \S, escaped punctuation (also "\_"). \w and \d cover Unicode letters and digits as
// on the platform; \s and \S are ASCII white space. Texts are UTF-8.
class RegularExpression {
public:
  enum Options : unsigned {
    kNone = 0,
    kCaseInsensitive = 1,
  };

  // One match: the range of the whole match (group 0) and of each capture group; a group that
  // took no part in the match is none.
  struct Match {
    std::vector<std::optional<std::string_view>> ranges;
    size_t numberOfRanges() const { return ranges.size(); }
    std::optional<std::string_view> group(size_t index) const {
      return index < ranges.size() ? ranges[index] : std::nullopt;
    }
  };

  // None, with `error` set (NSCocoaErrorDomain 2048), when the pattern is invalid.
  static std::optional<RegularExpression> make(std::string_view pattern, unsigned options = kNone,
                                               NSError* error = nullptr);

  size_t numberOfCaptureGroups() const;
  // Every non-overlapping match from left to right. An empty match advances by one character.
  std::vector<Match> matches(std::string_view text) const;
  std::optional<Match> firstMatch(std::string_view text) const;
  // `text` with every match replaced by `replacement` (taken literally).
  std::string replacingMatches(std::string_view text, std::string_view replacement) const;

private:
  explicit RegularExpression(std::shared_ptr<const re2::RE2> engine) : engine_(std::move(engine)) {}
  std::shared_ptr<const re2::RE2> engine_;
};

} // namespace platform
