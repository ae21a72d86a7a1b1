#pragma once

#include "platform/foundation/Base64.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::archive {

// Builds a binary property list ("bplist00") from objects added one by one; containers refer
// to other objects by the index that adding them returned, and dictionaries can grow after
// they are added (an archived object's keys arrive while it is being encoded). Equal strings,
// UIDs, integers, reals and Booleans are written once. Writing is linear in the size of the list.
class BinaryPropertyListWriter {
public:
  uint32_t addBool(bool value);
  uint32_t addInteger(int64_t value);
  uint32_t addReal(double value);
  uint32_t addData(const uint8_t* bytes, size_t size);
  // A string in UTF-8; invalid sequences are written as U+FFFD.
  uint32_t addString(std::string_view value);
  uint32_t addUID(uint64_t value);
  uint32_t addArray(std::vector<uint32_t> items = {});
  uint32_t addDictionary();

  // Sets `key` to `value` in the dictionary `dictionary`, replacing an earlier value.
  void setMember(uint32_t dictionary, std::string_view key, uint32_t value);

  Bytes write(uint32_t top) const;

private:
  enum class Kind : uint8_t { boolean, integer, real, data, string, uid, array, dictionary };
  struct Node {
    explicit Node(Kind nodeKind) : kind(nodeKind) {}
    Kind kind;
    uint64_t scalar = 0;
    double real = 0;
    std::string bytes; // data, or the string already in its written form
    bool utf16 = false;
    std::vector<uint32_t> items;                        // array
    std::vector<std::pair<uint32_t, uint32_t>> members; // dictionary
  };

  uint32_t add(Node node);

  std::vector<Node> nodes_;
  std::map<std::string, uint32_t, std::less<>> strings_;
  std::map<uint64_t, uint32_t> uids_;
  // Scalars by kind and bit pattern.
  std::map<std::pair<Kind, uint64_t>, uint32_t> scalars_;
  uint32_t addScalar(Kind kind, uint64_t bits, double real);
};

} // namespace platform::archive
