#include "lipo/LRBinaryReader.h"

#include "lipo/FatFormat.h"
#include "lipo/LipoErrors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace lipo {
namespace {

using platform::NSError;

constexpr const char* kNotNonFat = "This file isn't non fat binary";
constexpr const char* kNotFat = "This file isn't fat binary";
constexpr const char* kTruncatedRecords =
    "Truncated or malformed fat file (fat_arch structs would extend past the end of the file)";
constexpr const char* kTooManyRecords =
    "Truncated or malformed fat file (too many fat_arch structs)";
constexpr const char* kUnsupportedArchitecture = "Unsupported architecture";
constexpr const char* kCannotAccessData = "Cannot access data";
constexpr const char* kBytesAreNil = "Bytes are nil";

NSError readerError(int64_t code, std::string description,
                    std::optional<std::string> failureReason = std::nullopt) {
  return makeLipoError(BinaryReaderErrorDomain, code, std::move(description),
                       std::move(failureReason));
}

// The outcome of opening a file: its bytes, or the platform's error, or neither when the path
// names something whose bytes cannot be read as a file (a directory, a device, a pipe).
struct OpenedFile {
  std::shared_ptr<const ByteSource> source;
  std::optional<NSError> platformError;
  std::optional<FileIdentity> identity;
};

// Opens `path` for reading only once it is known to be a regular file: opening a device node
// as root can have effects of its own (a watchdog, a tape drive), and a pipe could block.
OpenedFile openFile(const std::string& path) {
  FileDescriptor handle(::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat status {};
  if (!handle.valid() || ::fstat(handle.get(), &status) != 0) {
    return {nullptr, NSError::fileManagerError(errno, path, false), std::nullopt};
  }
  if (!S_ISREG(status.st_mode) || status.st_size < 0) {
    return {};
  }
  // Reopening through the handle reaches the same file even if the path changed meanwhile.
  const std::string handlePath = "/proc/self/fd/" + std::to_string(handle.get());
  FileDescriptor fd(::open(handlePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid() && errno == ENOENT) {
    // No /proc: open the path itself and make sure it is still the file examined.
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  }
  struct stat opened {};
  if (!fd.valid() || ::fstat(fd.get(), &opened) != 0) {
    return {nullptr, NSError::fileManagerError(errno, path, false), std::nullopt};
  }
  if (opened.st_dev != status.st_dev || opened.st_ino != status.st_ino) {
    return {};
  }
  return {std::make_shared<FileByteSource>(std::move(fd), uint64_t(opened.st_size)),
          {},
          FileIdentity{opened.st_dev, opened.st_ino}};
}

// A record is used when its slice lies inside the file and starts on its alignment.
bool isUsable(const fat::Record& record, uint64_t fileSize) {
  if (record.offset > fileSize || record.size > fileSize - record.offset) {
    return false;
  }
  if (record.align > fat::kMaxAlign) {
    return false;
  }
  return record.offset % (uint64_t(1) << record.align) == 0;
}

std::optional<LRFatBinaryFile> parseFat(const std::string& path,
                                        const std::shared_ptr<const ByteSource>& source,
                                        std::optional<FileIdentity> identity, NSError* error) {
  const uint64_t fileSize = source->size();
  if (fileSize < fat::kHeaderSize) {
    setError(error, readerError(2, kNotFat));
    return std::nullopt;
  }
  uint8_t header[fat::kHeaderSize];
  if (source->read(0, header, sizeof header) != 0) {
    setError(error, readerError(4, kBytesAreNil));
    return std::nullopt;
  }
  const std::optional<bool> fat64 = fat::formatOfMagic(header);
  if (!fat64) {
    setError(error, readerError(2, kNotFat));
    return std::nullopt;
  }
  const uint64_t count = fat::loadBig32(header + 4);
  const uint64_t recordSize = fat::recordSize(*fat64);
  // Cannot overflow: count < 2^32 and recordSize <= 32.
  if (fat::kHeaderSize + count * recordSize > fileSize) {
    setError(error, readerError(2, kTruncatedRecords));
    return std::nullopt;
  }
  if (count > fat::kMaxSliceCount) {
    setError(error, readerError(2, kTooManyRecords));
    return std::nullopt;
  }

  std::vector<LRThinFile> thinFiles;
  thinFiles.reserve(size_t(count));
  uint8_t bytes[fat::kRecordSize64];
  for (uint64_t index = 0; index < count; ++index) {
    const uint64_t recordOffset = fat::kHeaderSize + index * recordSize;
    if (int status = source->read(recordOffset, bytes, size_t(recordSize)); status != 0) {
      // Only possible when the file shrank after its size was taken.
      if (*fat64) {
        setError(error,
                 readerError(6, "Cannot read fat arch at offset " + std::to_string(recordOffset)));
      } else {
        setError(error,
                 readerError(
                     5, std::string("Can't read FatArch. Exception name: ") + kRangeExceptionName,
                     std::string("Cannot read fat arch at offset ") + std::to_string(recordOffset) +
                         ": " + std::strerror(status)));
      }
      return std::nullopt;
    }
    const fat::Record record = fat::decodeRecord(bytes, *fat64);
    if (!isUsable(record, fileSize)) {
      continue;
    }
    thinFiles.emplace_back(record.cpuType, record.cpuSubType, record.offset, record.size,
                           record.align, source, record.offset);
  }
  return LRFatBinaryFile(path, *fat64, std::move(thinFiles), identity);
}

std::optional<LRNonFatBinaryFile> parseNonFat(const std::string& path, const ByteSource& source,
                                              NSError* error) {
  if (source.size() < fat::kThinHeaderSize) {
    setError(error, readerError(1, kNotNonFat));
    return std::nullopt;
  }
  uint8_t header[fat::kThinHeaderSize];
  if (source.read(0, header, sizeof header) != 0) {
    setError(error, readerError(4, kCannotAccessData));
    return std::nullopt;
  }
  // The Mach-O magic is not checked: the CPU words alone decide.
  const auto cpuType = int32_t(fat::loadLittle32(header + 4));
  const auto cpuSubType = int32_t(fat::loadLittle32(header + 8));
  std::optional<LRArchitecture> architecture =
      LRArchitecture::getArchitectureByCpuType(cpuType, cpuSubType);
  if (!architecture) {
    setError(error, readerError(3, kUnsupportedArchitecture));
    return std::nullopt;
  }
  return LRNonFatBinaryFile(path, std::move(*architecture));
}

} // namespace

std::optional<LRFatBinaryFile> LRBinaryReader::getFatBinaryFileAtPath(const std::string& path,
                                                                      NSError* error) const {
  try {
    // A missing file fails here with the file manager's error.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
      setError(error, NSError::fileManagerError(errno, path, false));
      return std::nullopt;
    }
    OpenedFile opened = openFile(path);
    if (opened.platformError) {
      setError(error, std::move(*opened.platformError));
      return std::nullopt;
    }
    if (!opened.source) {
      setError(error, readerError(4, kBytesAreNil));
      return std::nullopt;
    }
    return parseFat(path, opened.source, opened.identity, error);
  } catch (...) {
    setError(error, exceptionError(BinaryReaderErrorDomain, 4, std::current_exception()));
    return std::nullopt;
  }
}

std::optional<LRNonFatBinaryFile> LRBinaryReader::getNonFatBinaryFileAtPath(const std::string& path,
                                                                            NSError* error) const {
  try {
    OpenedFile opened = openFile(path);
    if (opened.platformError) {
      setError(error, std::move(*opened.platformError));
      return std::nullopt;
    }
    if (!opened.source) {
      setError(error, readerError(4, kCannotAccessData));
      return std::nullopt;
    }
    return parseNonFat(path, *opened.source, error);
  } catch (...) {
    setError(error, exceptionError(BinaryReaderErrorDomain, 4, std::current_exception()));
    return std::nullopt;
  }
}

std::optional<LRFatBinaryFile>
LRBinaryReader::getFatBinaryFile(const std::string& path, std::shared_ptr<const ByteSource> source,
                                 NSError* error) const {
  try {
    if (!source) {
      setError(error, readerError(4, kBytesAreNil));
      return std::nullopt;
    }
    return parseFat(path, source, std::nullopt, error);
  } catch (...) {
    setError(error, exceptionError(BinaryReaderErrorDomain, 4, std::current_exception()));
    return std::nullopt;
  }
}

std::optional<LRNonFatBinaryFile> LRBinaryReader::getNonFatBinaryFile(const std::string& path,
                                                                      const ByteSource& source,
                                                                      NSError* error) const {
  try {
    return parseNonFat(path, source, error);
  } catch (...) {
    setError(error, exceptionError(BinaryReaderErrorDomain, 4, std::current_exception()));
    return std::nullopt;
  }
}

} // namespace lipo
