#include "platform/archive/BinaryPropertyListWriter.h"

#include "platform/posix/HugePages.h"

#include <algorithm>
#include <cstring>

namespace platform::archive {
namespace {

// The fewest of 1, 2, 4 or 8 bytes that hold `value`.
size_t bytesFor(uint64_t value) {
  if (value <= 0xFF) {
    return 1;
  }
  if (value <= 0xFFFF) {
    return 2;
  }
  return value <= 0xFFFFFFFF ? 4 : 8;
}

void appendBigEndian(Bytes& out, uint64_t value, size_t size) {
  for (size_t i = size; i-- > 0;) {
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

int log2Size(size_t size) {
  return size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
}

// A marker with a count: in the low nibble when it fits, otherwise 0xF and an integer.
void appendMarker(Bytes& out, uint8_t kind, uint64_t count) {
  if (count < 15) {
    out.push_back(static_cast<uint8_t>(kind << 4 | count));
    return;
  }
  out.push_back(static_cast<uint8_t>(kind << 4 | 0xF));
  const size_t size = bytesFor(count);
  out.push_back(static_cast<uint8_t>(0x10 | log2Size(size)));
  appendBigEndian(out, count, size);
}

// Decodes one UTF-8 sequence at `at`; U+FFFD (consuming one byte) when it is malformed.
uint32_t nextCodePoint(std::string_view text, size_t& at) {
  const auto byte = static_cast<uint8_t>(text[at]);
  size_t length = byte < 0x80           ? 1
                  : (byte >> 5) == 0x6  ? 2
                  : (byte >> 4) == 0xE  ? 3
                  : (byte >> 3) == 0x1E ? 4
                                        : 0;
  uint32_t codePoint = length == 1   ? byte
                       : length == 2 ? byte & 0x1F
                       : length == 3 ? byte & 0x0F
                                     : byte & 0x07;
  if (length == 0 || at + length > text.size()) {
    ++at;
    return 0xFFFD;
  }
  for (size_t i = 1; i < length; ++i) {
    const auto continuation = static_cast<uint8_t>(text[at + i]);
    if ((continuation & 0xC0) != 0x80) {
      ++at;
      return 0xFFFD;
    }
    codePoint = codePoint << 6 | (continuation & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    ++at;
    return 0xFFFD;
  }
  at += length;
  return codePoint;
}

} // namespace

uint32_t BinaryPropertyListWriter::add(Node node) {
  nodes_->push_back(node);
  return static_cast<uint32_t>(nodes_->size() - 1);
}

uint32_t BinaryPropertyListWriter::addScalar(Kind kind, uint64_t bits) {
  auto found = scalars_.find({kind, bits});
  if (found != scalars_.end()) {
    return found->second;
  }
  const uint32_t index = add(Node{kind, false, 0, bits});
  scalars_.emplace(std::make_pair(kind, bits), index);
  return index;
}

uint32_t BinaryPropertyListWriter::addBool(bool value) {
  return addScalar(Kind::boolean, value ? 1 : 0);
}

uint32_t BinaryPropertyListWriter::addInteger(int64_t value) {
  return addScalar(Kind::integer, static_cast<uint64_t>(value));
}

uint32_t BinaryPropertyListWriter::addReal(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return addScalar(Kind::real, bits);
}

uint32_t BinaryPropertyListWriter::addData(const uint8_t* bytes, size_t size) {
  const uint64_t offset = text_->size();
  text_->append(reinterpret_cast<const char*>(bytes), size);
  return add(Node{Kind::data, false, static_cast<uint32_t>(size), offset});
}

std::string_view BinaryPropertyListWriter::textOf(uint32_t node) const {
  const Node& string = (*nodes_)[node];
  return std::string_view(*text_).substr(string.value, string.length);
}

BinaryPropertyListWriter::StringSlot&
BinaryPropertyListWriter::findStringSlot(std::string_view value, uint32_t hash) {
  const size_t mask = stringSlots_.size() - 1;
  for (size_t index = hash & mask;; index = (index + 1) & mask) {
    StringSlot& slot = stringSlots_[index];
    if (slot.node == kNoNode || (slot.hash == hash && textOf(slot.node) == value)) {
      return slot;
    }
  }
}

void BinaryPropertyListWriter::growStringSlots() {
  std::vector<StringSlot> old(stringSlots_.size() * 2);
  old.swap(stringSlots_);
  const size_t mask = stringSlots_.size() - 1;
  for (const StringSlot& slot : old) {
    if (slot.node == kNoNode) {
      continue;
    }
    size_t index = slot.hash & mask;
    while (stringSlots_[index].node != kNoNode) {
      index = (index + 1) & mask;
    }
    stringSlots_[index] = slot;
  }
}

uint32_t BinaryPropertyListWriter::addString(std::string_view value) {
  const uint64_t fullHash = std::hash<std::string_view>()(value);
  const auto hash = static_cast<uint32_t>(fullHash ^ (fullHash >> 32));
  if (StringSlot& slot = findStringSlot(value, hash); slot.node != kNoNode) {
    return slot.node;
  }
  bool ascii = true;
  for (char c : value) {
    ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  }
  const uint64_t offset = text_->size();
  text_->append(value);
  const uint32_t index =
      add(Node{Kind::string, !ascii, static_cast<uint32_t>(value.size()), offset});
  // At most half full, so that probes stay short.
  if (2 * (stringCount_ + 1) > stringSlots_.size()) {
    growStringSlots();
  }
  // `value` may have pointed into the text that the append just moved: look up the copy.
  findStringSlot(textOf(index), hash) = StringSlot{index, hash};
  ++stringCount_;
  return index;
}

uint32_t BinaryPropertyListWriter::addUID(uint64_t value) {
  // A UID names an object of the archive, one of the nodes written before; one beyond them is
  // written as it is, without sharing, so the table stays as small as the archive.
  if (value < uids_.size() && uids_[value] != kNoNode) {
    return uids_[value];
  }
  const uint32_t index = add(Node{Kind::uid, false, 0, value});
  if (value >= nodes_->size()) {
    return index;
  }
  if (value >= uids_.size()) {
    uids_.resize(std::max<size_t>(value + 1, uids_.size() * 2), kNoNode);
  }
  uids_[value] = index;
  return index;
}

uint32_t BinaryPropertyListWriter::addArray(std::vector<uint32_t> items) {
  arrays_.push_back(std::move(items));
  return add(Node{Kind::array, false, 0, arrays_.size() - 1});
}

uint32_t BinaryPropertyListWriter::addDictionary() {
  // Room for the members of a typical archived object at once, rather than four regrowths.
  dictionaries_.emplace_back().reserve(8);
  return add(Node{Kind::dictionary, false, 0, dictionaries_.size() - 1});
}

void BinaryPropertyListWriter::setMember(uint32_t dictionary, std::string_view key,
                                         uint32_t value) {
  const uint32_t keyIndex = addString(key);
  auto& members = dictionaries_[(*nodes_)[dictionary].value];
  for (auto& member : members) {
    if (member.first == keyIndex) {
      member.second = value;
      return;
    }
  }
  members.emplace_back(keyIndex, value);
}

// ASCII as it is; anything beyond as big-endian UTF-16, as the platform writes it, with
// invalid UTF-8 sequences as U+FFFD.
void BinaryPropertyListWriter::writeString(Bytes& out, const Node& node) const {
  const std::string_view text = std::string_view(*text_).substr(node.value, node.length);
  if (!node.utf16) {
    appendMarker(out, 0x5, text.size());
    out.insert(out.end(), text.begin(), text.end());
    return;
  }
  std::vector<uint16_t> units;
  units.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const uint32_t codePoint = nextCodePoint(text, at);
    if (codePoint >= 0x10000) {
      units.push_back(static_cast<uint16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(codePoint));
    }
  }
  appendMarker(out, 0x6, units.size());
  for (uint16_t unit : units) {
    out.push_back(static_cast<uint8_t>(unit >> 8));
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
  }
}

Bytes BinaryPropertyListWriter::write(uint32_t top) const {
  const std::vector<Node>& nodes = *nodes_;
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  out.reserve(text_->size() + nodes.size() * 8 + 64);
  posix::adviseHugePages(out.data(), out.capacity());
  const size_t referenceSize = bytesFor(nodes.empty() ? 0 : nodes.size() - 1);
  std::vector<uint64_t> offsets;
  offsets.reserve(nodes.size());
  for (const Node& node : nodes) {
    offsets.push_back(out.size());
    switch (node.kind) {
    case Kind::boolean:
      out.push_back(node.value != 0 ? 0x09 : 0x08);
      break;
    case Kind::integer: {
      // Negative values take eight bytes, which the format reads as signed.
      const size_t size = static_cast<int64_t>(node.value) < 0 ? 8 : bytesFor(node.value);
      out.push_back(static_cast<uint8_t>(0x10 | log2Size(size)));
      appendBigEndian(out, node.value, size);
      break;
    }
    case Kind::real:
      out.push_back(0x23);
      appendBigEndian(out, node.value, 8);
      break;
    case Kind::data: {
      const std::string_view bytes = std::string_view(*text_).substr(node.value, node.length);
      appendMarker(out, 0x4, bytes.size());
      out.insert(out.end(), bytes.begin(), bytes.end());
      break;
    }
    case Kind::string:
      writeString(out, node);
      break;
    case Kind::uid: {
      const size_t size = bytesFor(node.value);
      out.push_back(static_cast<uint8_t>(0x80 | (size - 1)));
      appendBigEndian(out, node.value, size);
      break;
    }
    case Kind::array: {
      const auto& items = arrays_[node.value];
      appendMarker(out, 0xA, items.size());
      for (uint32_t item : items) {
        appendBigEndian(out, item, referenceSize);
      }
      break;
    }
    case Kind::dictionary: {
      const auto& members = dictionaries_[node.value];
      appendMarker(out, 0xD, members.size());
      for (const auto& member : members) {
        appendBigEndian(out, member.first, referenceSize);
      }
      for (const auto& member : members) {
        appendBigEndian(out, member.second, referenceSize);
      }
      break;
    }
    }
  }
  const uint64_t tableAt = out.size();
  const size_t offsetSize = bytesFor(tableAt);
  for (uint64_t offset : offsets) {
    appendBigEndian(out, offset, offsetSize);
  }
  out.insert(out.end(), 6, 0); // unused bytes and the sort version
  out.push_back(static_cast<uint8_t>(offsetSize));
  out.push_back(static_cast<uint8_t>(referenceSize));
  appendBigEndian(out, nodes.size(), 8);
  appendBigEndian(out, top, 8);
  appendBigEndian(out, tableAt, 8);
  return out;
}

} // namespace platform::archive
