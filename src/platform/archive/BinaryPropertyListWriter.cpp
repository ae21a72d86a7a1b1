#include "platform/archive/BinaryPropertyListWriter.h"

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
  nodes_.push_back(std::move(node));
  return static_cast<uint32_t>(nodes_.size() - 1);
}

uint32_t BinaryPropertyListWriter::addScalar(Kind kind, uint64_t bits, double real) {
  auto found = scalars_.find({kind, bits});
  if (found != scalars_.end()) {
    return found->second;
  }
  Node node(kind);
  node.scalar = bits;
  node.real = real;
  const uint32_t index = add(std::move(node));
  scalars_.emplace(std::make_pair(kind, bits), index);
  return index;
}

uint32_t BinaryPropertyListWriter::addBool(bool value) {
  return addScalar(Kind::boolean, value ? 1 : 0, 0);
}

uint32_t BinaryPropertyListWriter::addInteger(int64_t value) {
  return addScalar(Kind::integer, static_cast<uint64_t>(value), 0);
}

uint32_t BinaryPropertyListWriter::addReal(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return addScalar(Kind::real, bits, value);
}

uint32_t BinaryPropertyListWriter::addData(const uint8_t* bytes, size_t size) {
  Node node(Kind::data);
  node.bytes.assign(reinterpret_cast<const char*>(bytes), size);
  return add(std::move(node));
}

uint32_t BinaryPropertyListWriter::addString(std::string_view value) {
  auto found = strings_.find(value);
  if (found != strings_.end()) {
    return found->second;
  }
  Node node(Kind::string);
  bool ascii = true;
  for (char c : value) {
    ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  }
  if (ascii) {
    node.bytes = std::string(value);
  } else {
    // Anything beyond ASCII is written as big-endian UTF-16, as the platform writes it.
    node.utf16 = true;
    auto appendUnit = [&](uint32_t unit) {
      node.bytes += static_cast<char>(unit >> 8);
      node.bytes += static_cast<char>(unit & 0xFF);
    };
    for (size_t at = 0; at < value.size();) {
      const uint32_t codePoint = nextCodePoint(value, at);
      if (codePoint >= 0x10000) {
        appendUnit(0xD800 + ((codePoint - 0x10000) >> 10));
        appendUnit(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
      } else {
        appendUnit(codePoint);
      }
    }
  }
  const uint32_t index = add(std::move(node));
  strings_.emplace(std::string(value), index);
  return index;
}

uint32_t BinaryPropertyListWriter::addUID(uint64_t value) {
  auto found = uids_.find(value);
  if (found != uids_.end()) {
    return found->second;
  }
  Node node(Kind::uid);
  node.scalar = value;
  const uint32_t index = add(std::move(node));
  uids_.emplace(value, index);
  return index;
}

uint32_t BinaryPropertyListWriter::addArray(std::vector<uint32_t> items) {
  Node node(Kind::array);
  node.items = std::move(items);
  return add(std::move(node));
}

uint32_t BinaryPropertyListWriter::addDictionary() {
  return add(Node(Kind::dictionary));
}

void BinaryPropertyListWriter::setMember(uint32_t dictionary, std::string_view key,
                                         uint32_t value) {
  const uint32_t keyIndex = addString(key);
  auto& members = nodes_[dictionary].members;
  for (auto& member : members) {
    if (member.first == keyIndex) {
      member.second = value;
      return;
    }
  }
  members.emplace_back(keyIndex, value);
}

Bytes BinaryPropertyListWriter::write(uint32_t top) const {
  Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  const size_t referenceSize = bytesFor(nodes_.empty() ? 0 : nodes_.size() - 1);
  std::vector<uint64_t> offsets;
  offsets.reserve(nodes_.size());
  for (const Node& node : nodes_) {
    offsets.push_back(out.size());
    switch (node.kind) {
    case Kind::boolean:
      out.push_back(node.scalar != 0 ? 0x09 : 0x08);
      break;
    case Kind::integer: {
      // Negative values take eight bytes, which the format reads as signed.
      const size_t size = static_cast<int64_t>(node.scalar) < 0 ? 8 : bytesFor(node.scalar);
      out.push_back(static_cast<uint8_t>(0x10 | log2Size(size)));
      appendBigEndian(out, node.scalar, size);
      break;
    }
    case Kind::real: {
      uint64_t bits;
      std::memcpy(&bits, &node.real, sizeof bits);
      out.push_back(0x23);
      appendBigEndian(out, bits, 8);
      break;
    }
    case Kind::data:
    case Kind::string:
      if (node.kind == Kind::data) {
        appendMarker(out, 0x4, node.bytes.size());
      } else {
        appendMarker(out, node.utf16 ? 0x6 : 0x5,
                     node.utf16 ? node.bytes.size() / 2 : node.bytes.size());
      }
      out.insert(out.end(), node.bytes.begin(), node.bytes.end());
      break;
    case Kind::uid: {
      const size_t size = bytesFor(node.scalar);
      out.push_back(static_cast<uint8_t>(0x80 | (size - 1)));
      appendBigEndian(out, node.scalar, size);
      break;
    }
    case Kind::array:
      appendMarker(out, 0xA, node.items.size());
      for (uint32_t item : node.items) {
        appendBigEndian(out, item, referenceSize);
      }
      break;
    case Kind::dictionary:
      appendMarker(out, 0xD, node.members.size());
      for (const auto& member : node.members) {
        appendBigEndian(out, member.first, referenceSize);
      }
      for (const auto& member : node.members) {
        appendBigEndian(out, member.second, referenceSize);
      }
      break;
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
  appendBigEndian(out, nodes_.size(), 8);
  appendBigEndian(out, top, 8);
  appendBigEndian(out, tableAt, 8);
  return out;
}

} // namespace platform::archive
