#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform::security {

using Sha256Digest = std::array<uint8_t, 32>;

// Hashes bytes [0, length) of the open file `fd` with SHA-256, streaming with pread so that
// the file is never mapped (a file truncated under us gives a short read, not a SIGBUS).
// False with a reason in `failure` on a read error or when the file is shorter than `length`.
// When `capture` is given, the bytes [capture->offset, capture->offset + capture->bytes.size())
// are copied out of the same stream, so that they are exactly the bytes that were hashed.
struct CapturedRange {
  uint64_t offset = 0;
  std::string bytes; // sized by the caller, filled by the hash
};
bool sha256OfFilePrefix(int fd, uint64_t length, Sha256Digest& digest, std::string* failure,
                        CapturedRange* capture = nullptr);

// SHA-256 of a byte range in memory.
Sha256Digest sha256Of(const void* bytes, size_t length);

// Lower-case hexadecimal text of a digest.
std::string hexString(const Sha256Digest& digest);

} // namespace platform::security
