#include "platform/archive/BinaryPropertyList.h"

#include "platform/archive/BigEndian.h"
#include "platform/archive/BinaryPropertyListValidator.h"
#include "platform/posix/HugePages.h"

#include <cstring>

namespace platform::archive {
namespace {

void appendUTF8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// Appends big-endian UTF-16, whose surrogates the validator has already found paired, as UTF-8.
void appendUTF16AsUTF8(std::string& out, const uint8_t* bytes, uint64_t units) {
  for (uint64_t i = 0; i < units; ++i) {
    uint32_t unit = static_cast<uint32_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      const uint32_t low = static_cast<uint32_t>(bytes[2 * i + 2] << 8 | bytes[2 * i + 3]);
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    appendUTF8(out, unit);
  }
}

} // namespace

std::optional<BinaryPropertyList> BinaryPropertyList::read(std::span<const uint8_t> bytes,
                                                           const ArchiveLimits& limits,
                                                           std::string& fault) {
  if (auto problem = validateBinaryPropertyList(bytes, limits)) {
    fault = *problem;
    return std::nullopt;
  }
  // The structure is sound from here on: every offset, length and reference is in bounds.
  const uint8_t* trailer = bytes.data() + bytes.size() - 32;
  const size_t offsetSize = trailer[6];
  const size_t referenceSize = trailer[7];
  const uint64_t count = readBigEndian(trailer + 8, 8);
  const uint64_t tableAt = readBigEndian(trailer + 24, 8);

  BinaryPropertyList list;
  list.top_ = static_cast<uint32_t>(readBigEndian(trailer + 16, 8));
  list.objects_.reserve(count);
  posix::adviseHugePages(list.objects_.data(), count * sizeof(Object));
  list.objects_.resize(count);
  // Reserved address space, of which only what is filled is touched: the validator lets the
  // objects' texts and references add up to no more than the list's bytes (text in UTF-16
  // grows by at most half as UTF-8).
  list.text_.reserve(bytes.size());
  posix::adviseHugePages(list.text_.data(), list.text_.capacity());
  list.references_.reserve(bytes.size() / referenceSize);
  posix::adviseHugePages(list.references_.data(), list.references_.capacity() * sizeof(uint32_t));
  for (uint64_t index = 0; index < count; ++index) {
    const uint8_t* at =
        bytes.data() + readBigEndian(bytes.data() + tableAt + index * offsetSize, offsetSize);
    Object& object = list.objects_[index];
    const uint8_t kind = at[0] >> 4;
    const uint8_t info = at[0] & 0x0F;
    ++at;
    uint64_t length = info;
    if ((kind == 0x4 || kind == 0x5 || kind == 0x6 || kind == 0xA || kind == 0xD) && info == 0xF) {
      const size_t size = size_t{1} << (at[0] & 0x0F);
      length = readBigEndian(at + 1, size);
      at += 1 + size;
    }
    switch (kind) {
    case 0x0:
      object.type = Type::boolean;
      object.value = info == 0x9 ? 1 : 0;
      break;
    case 0x1: {
      // Sixteen-byte integers hold values past the signed range; their low half is the value.
      const size_t size = size_t{1} << info;
      object.type = Type::integer;
      object.value = size == 16 ? readBigEndian(at + 8, 8) : readBigEndian(at, size);
      break;
    }
    case 0x2:
    case 0x3: {
      object.type = kind == 0x2 ? Type::real : Type::date;
      const uint64_t raw = readBigEndian(at, size_t{1} << info);
      double real;
      if (info == 2) {
        float value;
        const auto bits = static_cast<uint32_t>(raw);
        std::memcpy(&value, &bits, sizeof value);
        real = value;
      } else {
        std::memcpy(&real, &raw, sizeof real);
      }
      std::memcpy(&object.value, &real, sizeof real);
      break;
    }
    case 0x4:
    case 0x5:
    case 0x6: {
      object.type = kind == 0x4 ? Type::data : Type::string;
      object.value = list.text_.size();
      if (kind == 0x6) {
        appendUTF16AsUTF8(list.text_, at, length);
      } else {
        list.text_.append(reinterpret_cast<const char*>(at), length);
      }
      const uint64_t size = list.text_.size() - object.value;
      if (size > UINT32_MAX) {
        fault = "a string or data object is too large";
        return std::nullopt;
      }
      object.count = static_cast<uint32_t>(size);
      break;
    }
    case 0x8:
      object.type = Type::uid;
      object.value = readBigEndian(at, size_t{info} + 1);
      break;
    case 0xA:
    case 0xD: {
      object.type = kind == 0xA ? Type::array : Type::dictionary;
      const uint64_t references = kind == 0xD ? length * 2 : length;
      if (references > UINT32_MAX) {
        fault = "a container is too large";
        return std::nullopt;
      }
      object.value = list.references_.size();
      object.count = static_cast<uint32_t>(references);
      for (uint64_t i = 0; i < references; ++i) {
        list.references_.push_back(
            static_cast<uint32_t>(readBigEndian(at + i * referenceSize, referenceSize)));
      }
      break;
    }
    default:
      fault = "unsupported object kind";
      return std::nullopt;
    }
  }
  return list;
}

const BinaryPropertyList::Object* BinaryPropertyList::Ref::object() const {
  return list_ != nullptr ? &list_->objects_[index_] : nullptr;
}

std::optional<BinaryPropertyList::Type> BinaryPropertyList::Ref::type() const {
  auto* node = object();
  return node != nullptr ? std::optional<Type>(node->type) : std::nullopt;
}

std::optional<std::string_view> BinaryPropertyList::Ref::stringValue() const {
  if (!is(Type::string)) {
    return std::nullopt;
  }
  return std::string_view(list_->text_).substr(object()->value, object()->count);
}

std::optional<bool> BinaryPropertyList::Ref::boolValue() const {
  return is(Type::boolean) ? std::optional<bool>(object()->value != 0) : std::nullopt;
}

std::optional<uint64_t> BinaryPropertyList::Ref::integerValue() const {
  return is(Type::integer) ? std::optional<uint64_t>(object()->value) : std::nullopt;
}

std::optional<double> BinaryPropertyList::Ref::realValue() const {
  if (!is(Type::real)) {
    return std::nullopt;
  }
  double real;
  std::memcpy(&real, &object()->value, sizeof real);
  return real;
}

std::optional<std::string_view> BinaryPropertyList::Ref::dataValue() const {
  if (!is(Type::data)) {
    return std::nullopt;
  }
  return std::string_view(list_->text_).substr(object()->value, object()->count);
}

std::optional<uint64_t> BinaryPropertyList::Ref::uidValue() const {
  return is(Type::uid) ? std::optional<uint64_t>(object()->value) : std::nullopt;
}

size_t BinaryPropertyList::Ref::arraySize() const {
  return is(Type::array) ? object()->count : 0;
}

BinaryPropertyList::Ref BinaryPropertyList::Ref::arrayItem(size_t index) const {
  if (index >= arraySize()) {
    return Ref();
  }
  return Ref(list_, list_->references_[object()->value + index]);
}

size_t BinaryPropertyList::Ref::dictionarySize() const {
  return is(Type::dictionary) ? object()->count / 2 : 0;
}

BinaryPropertyList::Ref BinaryPropertyList::Ref::dictionaryKey(size_t index) const {
  if (index >= dictionarySize()) {
    return Ref();
  }
  return Ref(list_, list_->references_[object()->value + index]);
}

BinaryPropertyList::Ref BinaryPropertyList::Ref::dictionaryValue(size_t index) const {
  const size_t size = dictionarySize();
  if (index >= size) {
    return Ref();
  }
  return Ref(list_, list_->references_[object()->value + size + index]);
}

BinaryPropertyList::Ref BinaryPropertyList::Ref::operator[](std::string_view key) const {
  const size_t size = dictionarySize();
  for (size_t i = 0; i < size; ++i) {
    if (dictionaryKey(i).stringValue() == key) {
      return dictionaryValue(i);
    }
  }
  return Ref();
}

} // namespace platform::archive
