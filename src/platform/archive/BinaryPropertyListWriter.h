#pragma once

#include "platform/archive/HashKeys.h"
#include "platform/foundation/Base64.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
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
  // 16 bytes whatever the kind: the bytes of data and strings live in `text_`, the members of
  // containers in their own tables, so that an archive of many objects stays compact.
  struct Node {
    Kind kind;
    bool utf16 = false;  // a string beyond ASCII, written as UTF-16
    uint32_t length = 0; // data and strings: their length in `text_`
    uint64_t value = 0;  // scalars: the bit pattern; UIDs: the UID; data and strings: the offset
                         // in `text_`; containers: the index in their table
  };
  // The table of strings written so far, for writing each text once: open addressing with
  // linear probing, each slot a string node and 32 bits of its text's hash. One flat vector for
  // the millions of paths of a large listing, rather than a hash node each.
  // No node: an empty slot of a table.
  static constexpr uint32_t kNoNode = UINT32_MAX;
  struct StringSlot {
    uint32_t node = kNoNode;
    uint32_t hash = 0;
  };
  std::string_view textOf(uint32_t node) const;
  // The slot that holds `value` (hashed to `hash`), or the empty slot where it belongs.
  StringSlot& findStringSlot(std::string_view value, uint32_t hash);
  void growStringSlots();

  uint32_t add(Node node);
  uint32_t addScalar(Kind kind, uint64_t bits);
  void writeString(Bytes& out, const Node& node) const;

  std::unique_ptr<std::vector<Node>> nodes_ = std::make_unique<std::vector<Node>>();
  std::unique_ptr<std::string> text_ = std::make_unique<std::string>();
  std::vector<std::vector<uint32_t>> arrays_;
  std::vector<std::vector<std::pair<uint32_t, uint32_t>>> dictionaries_;
  std::vector<StringSlot> stringSlots_ = std::vector<StringSlot>(64);
  size_t stringCount_ = 0;
  // The node of each UID written so far, by UID (an archive's UIDs count up from zero), or
  // kNoNode.
  std::vector<uint32_t> uids_;
  // Scalars by kind and bit pattern.
  std::unordered_map<std::pair<Kind, uint64_t>, uint32_t, PairKeyHash> scalars_;
};

} // namespace platform::archive
