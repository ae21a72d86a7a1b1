#include "platform/security/VersionCompare.h"

namespace platform::security {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Takes the run of digits at `position`, without leading zeros.
std::string_view takeNumber(std::string_view text, size_t& position) {
  while (position + 1 < text.size() && text[position] == '0' && isDigit(text[position + 1])) {
    ++position;
  }
  size_t start = position;
  while (position < text.size() && isDigit(text[position])) {
    ++position;
  }
  return text.substr(start, position - start);
}

} // namespace

int compareNumerically(std::string_view left, std::string_view right) {
  size_t i = 0;
  size_t j = 0;
  while (i < left.size() && j < right.size()) {
    if (isDigit(left[i]) && isDigit(right[j])) {
      std::string_view a = takeNumber(left, i);
      std::string_view b = takeNumber(right, j);
      if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
      }
      if (int order = a.compare(b); order != 0) {
        return order < 0 ? -1 : 1;
      }
      continue;
    }
    if (left[i] != right[j]) {
      return static_cast<unsigned char>(left[i]) < static_cast<unsigned char>(right[j]) ? -1 : 1;
    }
    ++i;
    ++j;
  }
  bool leftDone = i >= left.size();
  bool rightDone = j >= right.size();
  if (leftDone && rightDone) {
    return 0;
  }
  return leftDone ? -1 : 1;
}

} // namespace platform::security
