#include "platform/archive/BinaryPropertyListValidator.h"

#include "platform/archive/BigEndian.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform::archive {
namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kTrailerSize = 32;

class Validator {
public:
  Validator(std::span<const uint8_t> bytes, const ArchiveLimits& limits)
      : bytes_(bytes), limits_(limits) {}

  std::optional<std::string> run() {
    if (auto fault = readTrailer()) {
      return fault;
    }
    if (auto fault = readObjects()) {
      return fault;
    }
    return checkGraph();
  }

private:
  // One object's parsed shape: its kind and, for containers, where its references start.
  struct Shape {
    uint8_t kind = 0;
    uint64_t count = 0;      // references held (a dictionary holds 2 * entries)
    size_t referencesAt = 0; // offset of the first reference
    bool isString = false;
  };

  std::optional<std::string> readTrailer() {
    if (bytes_.size() < kHeaderSize + kTrailerSize + 1) {
      return "too short to be a binary property list";
    }
    if (std::memcmp(bytes_.data(), "bplist00", kHeaderSize) != 0) {
      return "missing the \"bplist00\" header";
    }
    const uint8_t* trailer = bytes_.data() + bytes_.size() - kTrailerSize;
    offsetSize_ = trailer[6];
    referenceSize_ = trailer[7];
    objectCount_ = readBigEndian(trailer + 8, 8);
    topObject_ = readBigEndian(trailer + 16, 8);
    offsetTableAt_ = readBigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8) {
      return "invalid offset or reference size in the trailer";
    }
    if (objectCount_ < 1 || objectCount_ > limits_.maxPropertyListObjects) {
      return "object count out of bounds";
    }
    if (topObject_ >= objectCount_) {
      return "top object out of range";
    }
    const uint64_t tableEnd = bytes_.size() - kTrailerSize;
    if (offsetTableAt_ < kHeaderSize || offsetTableAt_ > tableEnd ||
        (tableEnd - offsetTableAt_) / offsetSize_ < objectCount_) {
      return "offset table out of bounds";
    }
    return std::nullopt;
  }

  std::optional<std::string> readObjects() {
    shapes_.resize(objectCount_);
    for (uint64_t index = 0; index < objectCount_; ++index) {
      const uint64_t offset =
          readBigEndian(bytes_.data() + offsetTableAt_ + index * offsetSize_, offsetSize_);
      if (offset < kHeaderSize || offset >= offsetTableAt_) {
        return "object offset out of bounds";
      }
      if (auto fault = readObject(static_cast<size_t>(offset), shapes_[index])) {
        return fault;
      }
    }
    return std::nullopt;
  }

  // Whether `length` bytes starting at `at` lie inside the object area.
  bool fits(size_t at, uint64_t length) const {
    return at <= offsetTableAt_ && length <= offsetTableAt_ - at;
  }

  // Counts `length` bytes of text, data or references against the object area. Objects of a
  // sound list each have bytes of their own, so together they fit; offsets that point many
  // objects at one large string or container would otherwise make every check, and the reader
  // that copies each object out, go over the same bytes once per object.
  bool claim(uint64_t length) {
    const uint64_t area = offsetTableAt_ - kHeaderSize;
    if (length > area - claimedBytes_) {
      return false;
    }
    claimedBytes_ += length;
    return true;
  }

  // Reads the length that follows a marker whose low nibble is 0xF: an integer object.
  std::optional<std::string> readLength(size_t& at, uint64_t& length) {
    if (!fits(at, 1)) {
      return "object runs past the end";
    }
    const uint8_t marker = bytes_[at];
    if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) {
      return "invalid length marker";
    }
    const size_t size = size_t{1} << (marker & 0x0F);
    if (!fits(at + 1, size)) {
      return "object runs past the end";
    }
    length = readBigEndian(bytes_.data() + at + 1, size);
    at += 1 + size;
    return std::nullopt;
  }

  // Decoded texts become paths and tool arguments, where a NUL would silently cut them short
  // (naming another file), so strings with a NUL are refused here, in one place. The platform
  // writes every string that is not plain ASCII as UTF-16.
  bool isPlainASCII(size_t at, uint64_t length) const {
    for (uint64_t i = 0; i < length; ++i) {
      const uint8_t byte = bytes_[at + i];
      if (byte == 0 || byte >= 0x80) {
        return false;
      }
    }
    return true;
  }

  bool isWellFormedUTF16(size_t at, uint64_t length) const {
    for (uint64_t i = 0; i < length; ++i) {
      const uint16_t unit = static_cast<uint16_t>(bytes_[at + 2 * i] << 8 | bytes_[at + 2 * i + 1]);
      if (unit == 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) {
        return false;
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 1 == length) {
          return false;
        }
        const uint16_t next =
            static_cast<uint16_t>(bytes_[at + 2 * i + 2] << 8 | bytes_[at + 2 * i + 3]);
        if (next < 0xDC00 || next > 0xDFFF) {
          return false;
        }
        ++i;
      }
    }
    return true;
  }

  std::optional<std::string> readObject(size_t at, Shape& shape) {
    const uint8_t marker = bytes_[at];
    const uint8_t kind = marker >> 4;
    const uint8_t info = marker & 0x0F;
    shape.kind = kind;
    ++at;
    switch (kind) {
    case 0x0:
      return (info == 0x8 || info == 0x9) ? std::nullopt
                                          : std::optional<std::string>("unsupported object");
    case 0x1:
      if (info > 4) {
        return "invalid integer size";
      }
      return fits(at, size_t{1} << info) ? std::nullopt
                                         : std::optional<std::string>("integer runs past the end");
    case 0x2:
      if (info != 2 && info != 3) {
        return "invalid real size";
      }
      return fits(at, size_t{1} << info) ? std::nullopt
                                         : std::optional<std::string>("real runs past the end");
    case 0x3:
      if (info != 3) {
        return "invalid date size";
      }
      return fits(at, 8) ? std::nullopt : std::optional<std::string>("date runs past the end");
    case 0x4:
    case 0x5:
    case 0x6: {
      uint64_t length = info;
      if (info == 0xF) {
        if (auto fault = readLength(at, length)) {
          return fault;
        }
      }
      if (kind == 0x6 && length > UINT64_MAX / 2) {
        return "string length out of bounds";
      }
      shape.isString = kind != 0x4;
      const uint64_t size = kind == 0x6 ? length * 2 : length;
      if (!fits(at, size)) {
        return "data or string runs past the end";
      }
      if (!claim(size)) {
        return "objects share their bytes";
      }
      if (kind == 0x5 && !isPlainASCII(at, length)) {
        return "ASCII string holds a NUL or a non-ASCII byte";
      }
      if (kind == 0x6 && !isWellFormedUTF16(at, length)) {
        return "UTF-16 string holds a NUL or an unpaired surrogate";
      }
      return std::nullopt;
    }
    case 0x8: {
      const size_t size = size_t{info} + 1;
      if (size != 1 && size != 2 && size != 4 && size != 8) {
        return "invalid UID size";
      }
      return fits(at, size) ? std::nullopt : std::optional<std::string>("UID runs past the end");
    }
    case 0xA:
    case 0xD: {
      uint64_t count = info;
      if (info == 0xF) {
        if (auto fault = readLength(at, count)) {
          return fault;
        }
      }
      if (count > limits_.maxPropertyListNodes) {
        return "container count out of bounds";
      }
      shape.count = kind == 0xD ? count * 2 : count;
      shape.referencesAt = at;
      if (!fits(at, shape.count * referenceSize_)) {
        return "container runs past the end";
      }
      return claim(shape.count * referenceSize_)
                 ? std::nullopt
                 : std::optional<std::string>("objects share their bytes");
    }
    default:
      return "unsupported object kind";
    }
  }

  uint64_t reference(const Shape& shape, uint64_t position) const {
    return readBigEndian(bytes_.data() + shape.referencesAt + position * referenceSize_,
                         referenceSize_);
  }

  // Walks the graph from the top object without recursion, checking references, dictionary
  // keys, cycles, depth and the expanded tree size.
  std::optional<std::string> checkGraph() {
    enum class State : uint8_t { unvisited, inProgress, done };
    std::vector<State> states(objectCount_, State::unvisited);
    std::vector<uint64_t> nodes(objectCount_, 0);   // expanded size of each finished object
    std::vector<uint32_t> heights(objectCount_, 0); // longest path from it down to a leaf
    struct Frame {
      uint64_t object;
      uint64_t next = 0;
      uint64_t nodes = 1;
      uint32_t height = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({topObject_});
    states[topObject_] = State::inProgress;
    while (!stack.empty()) {
      Frame& frame = stack.back();
      const Shape& shape = shapes_[frame.object];
      if (frame.next == shape.count) {
        const uint32_t height = frame.height + 1;
        nodes[frame.object] = frame.nodes;
        heights[frame.object] = height;
        states[frame.object] = State::done;
        stack.pop_back();
        if (!stack.empty()) {
          Frame& parent = stack.back();
          parent.nodes += nodes[frame.object];
          parent.height = std::max(parent.height, height);
          if (parent.nodes > limits_.maxPropertyListNodes) {
            return "property list expands to too many nodes";
          }
        }
        continue;
      }
      const uint64_t position = frame.next++;
      const uint64_t child = reference(shape, position);
      if (child >= objectCount_) {
        return "object reference out of range";
      }
      const bool isKey = shape.kind == 0xD && position < shape.count / 2;
      if (isKey && !shapes_[child].isString) {
        return "dictionary key is not a string";
      }
      switch (states[child]) {
      case State::inProgress:
        return "reference cycle";
      case State::done:
        frame.nodes += nodes[child];
        frame.height = std::max(frame.height, heights[child]);
        if (frame.nodes > limits_.maxPropertyListNodes) {
          return "property list expands to too many nodes";
        }
        if (stack.size() + heights[child] > limits_.maxPropertyListDepth) {
          return "property list nested too deeply";
        }
        break;
      case State::unvisited:
        if (stack.size() >= limits_.maxPropertyListDepth) {
          return "property list nested too deeply";
        }
        states[child] = State::inProgress;
        stack.push_back({child});
        break;
      }
    }
    return std::nullopt;
  }

  std::span<const uint8_t> bytes_;
  const ArchiveLimits& limits_;
  size_t offsetSize_ = 0;
  size_t referenceSize_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t topObject_ = 0;
  uint64_t offsetTableAt_ = 0;
  uint64_t claimedBytes_ = 0; // of the object area, by variable-size objects read so far
  std::vector<Shape> shapes_;
};

} // namespace

std::optional<std::string> validateBinaryPropertyList(std::span<const uint8_t> bytes,
                                                      const ArchiveLimits& limits) {
  if (bytes.size() > limits.maxArchiveBytes) {
    return "archive larger than the limit";
  }
  return Validator(bytes, limits).run();
}

} // namespace platform::archive
