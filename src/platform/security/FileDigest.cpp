#include "platform/security/FileDigest.h"

#include "platform/posix/RetryOnInterrupt.h"
#include "platform/security/OpenSSLTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace platform::security {

namespace {
// Large enough to amortise the system calls, small enough to stay in the cache.
constexpr size_t kReadChunk = 512 * 1024;

// Copies the part of the chunk [chunkOffset, chunkOffset + chunkSize) that overlaps `capture`.
void captureOverlap(CapturedRange& capture, const uint8_t* chunk, uint64_t chunkOffset,
                    uint64_t chunkSize) {
  uint64_t begin = std::max(capture.offset, chunkOffset);
  uint64_t end = std::min(capture.offset + capture.bytes.size(), chunkOffset + chunkSize);
  if (begin < end) {
    std::memcpy(capture.bytes.data() + (begin - capture.offset), chunk + (begin - chunkOffset),
                end - begin);
  }
}

} // namespace

bool sha256OfFilePrefix(int fd, uint64_t length, Sha256Digest& digest, std::string* failure,
                        CapturedRange* capture) {
  if (capture != nullptr &&
      (capture->offset > length || capture->bytes.size() > length - capture->offset)) {
    *failure = "captured range lies outside the hashed bytes";
    return false;
  }
  DigestContextPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    *failure = takeOpenSSLError("cannot start SHA-256");
    return false;
  }
  ::posix_fadvise(fd, 0, static_cast<off_t>(length), POSIX_FADV_SEQUENTIAL);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
  uint64_t offset = 0;
  while (offset < length) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kReadChunk, length - offset));
    const ssize_t got = posix::retryOnInterrupt(
        [&] { return ::pread(fd, buffer.get(), want, static_cast<off_t>(offset)); });
    if (got < 0) {
      *failure = std::string("read failed: ") + std::strerror(errno);
      return false;
    }
    if (got == 0) {
      *failure = "file is shorter than its signature claims";
      return false;
    }
    EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(got));
    if (capture != nullptr) {
      captureOverlap(*capture, buffer.get(), offset, static_cast<uint64_t>(got));
    }
    offset += static_cast<uint64_t>(got);
  }
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1 || size != digest.size()) {
    *failure = takeOpenSSLError("cannot finish SHA-256");
    return false;
  }
  return true;
}

Sha256Digest sha256Of(const void* bytes, size_t length) {
  Sha256Digest digest{};
  unsigned int size = 0;
  EVP_Digest(bytes, length, digest.data(), &size, EVP_sha256(), nullptr);
  return digest;
}

std::string hexString(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

} // namespace platform::security
