#include "platform/security/RequirementLexer.h"

namespace platform::security {

namespace {

bool isWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-' || c == '+' || c == '/' || c == ':';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads a quoted string starting at the opening quote; a backslash takes the next character
// literally.
bool readQuoted(std::string_view text, size_t& position, std::string& value) {
  ++position; // opening quote
  while (position < text.size()) {
    char c = text[position++];
    if (c == '"') {
      return true;
    }
    if (c == '\\') {
      if (position >= text.size()) {
        return false;
      }
      c = text[position++];
    }
    value.push_back(c);
  }
  return false;
}

} // namespace

bool tokenizeRequirement(std::string_view text, std::vector<RequirementToken>& tokens,
                         std::string& failure) {
  using Kind = RequirementToken::Kind;
  size_t position = 0;
  while (true) {
    while (position < text.size() && isSpace(text[position])) {
      ++position;
    }
    RequirementToken token;
    token.offset = position;
    if (position >= text.size()) {
      tokens.push_back(token);
      return true;
    }
    char c = text[position];
    char next = position + 1 < text.size() ? text[position + 1] : '\0';
    if (c == '"') {
      token.kind = Kind::string;
      if (!readQuoted(text, position, token.text)) {
        failure = "unterminated string at offset " + std::to_string(token.offset);
        return false;
      }
    } else if (c == 'H' && next == '"') {
      token.kind = Kind::hash;
      ++position;
      if (!readQuoted(text, position, token.text)) {
        failure = "unterminated hash at offset " + std::to_string(token.offset);
        return false;
      }
    } else if (isWordCharacter(c)) {
      token.kind = Kind::word;
      while (position < text.size() && isWordCharacter(text[position])) {
        token.text.push_back(text[position++]);
      }
    } else if ((c == '<' || c == '>') && next == '=') {
      token.kind = c == '<' ? Kind::lessEqual : Kind::greaterEqual;
      position += 2;
    } else {
      switch (c) {
      case '(':
        token.kind = Kind::leftParen;
        break;
      case ')':
        token.kind = Kind::rightParen;
        break;
      case '[':
        token.kind = Kind::leftBracket;
        break;
      case ']':
        token.kind = Kind::rightBracket;
        break;
      case '!':
        token.kind = Kind::bang;
        break;
      case '=':
        token.kind = Kind::equal;
        break;
      case '<':
        token.kind = Kind::less;
        break;
      case '>':
        token.kind = Kind::greater;
        break;
      default:
        failure = "unexpected character at offset " + std::to_string(position);
        return false;
      }
      ++position;
    }
    tokens.push_back(std::move(token));
  }
}

} // namespace platform::security
