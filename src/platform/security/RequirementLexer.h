#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform::security {

// One token of the requirement language.
struct RequirementToken {
  enum class Kind {
    word,       // a bare word: keyword, unquoted string, number or field name
    string,     // "quoted", escapes resolved
    hash,       // H"hex", the hex digits
    leftParen,  // (
    rightParen, // )
    leftBracket,
    rightBracket,
    bang,         // !
    equal,        // =
    less,         // <
    lessEqual,    // <=
    greater,      // >
    greaterEqual, // >=
    end,
  };
  Kind kind = Kind::end;
  std::string text;
  size_t offset = 0; // in the source text, for messages
};

// Splits requirement text into tokens. False with a message on a character that cannot start
// a token or an unterminated string.
bool tokenizeRequirement(std::string_view text, std::vector<RequirementToken>& tokens,
                         std::string& failure);

} // namespace platform::security
