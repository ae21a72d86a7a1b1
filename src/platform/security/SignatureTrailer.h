#pragma once

#include "platform/security/FileDigest.h"
#include "platform/security/SecStatus.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::security {

// A signed file is laid out as
//   [code bytes][signature blob: DER CMS SignedData][footer: 16 bytes]
// and the footer is "QCODESIG", the format version (uint32 little-endian, 1) and the length of
// the signature blob (uint32 little-endian). The verifier finds the signature from the end.
inline constexpr char kSignatureMagic[8] = {'Q', 'C', 'O', 'D', 'E', 'S', 'I', 'G'};
inline constexpr uint32_t kSignatureFormatVersion = 1;
inline constexpr uint64_t kSignatureFooterSize = 16;
inline constexpr uint32_t kMaxSignatureBlobSize = 1024 * 1024;

// Where the parts of a signed file lie.
struct SignatureTrailer {
  uint64_t codeLength = 0; // bytes covered by the signature; the blob starts here
  uint32_t blobLength = 0;
};

// Reads the footer of the open file `fd` of `fileSize` bytes. errSecCSUnsigned when the file
// ends without the magic; errSecCSSignatureFailed when the footer is there but malformed.
SecStatus locateSignatureTrailer(int fd, uint64_t fileSize, SignatureTrailer& trailer);

// The 16 footer bytes for a blob of `blobLength` bytes.
std::string encodeSignatureFooter(uint32_t blobLength);

// The signed content of the CMS SignedData: the signing identifier and the length and SHA-256
// of the code bytes, as four lines of text:
//   quillby-code-signature-v1
//   identifier=<identifier>
//   code-length=<decimal>
//   code-sha256=<64 lower-case hex digits>
struct SignedContent {
  std::string identifier;
  uint64_t codeLength = 0;
  Sha256Digest codeDigest{};

  std::string encode() const;
  // Strict parse; none with a reason when the text is not exactly the form above.
  static std::optional<SignedContent> parse(std::string_view text, std::string* failure);
};

// A signing identifier: 1 to 255 characters of letters, digits, '.', '_', '-' and '+'.
bool isValidSigningIdentifier(std::string_view identifier);

} // namespace platform::security
