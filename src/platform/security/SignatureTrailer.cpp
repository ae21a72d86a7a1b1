#include "platform/security/SignatureTrailer.h"

#include "platform/posix/RetryOnInterrupt.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <unistd.h>

namespace platform::security {

namespace {

constexpr std::string_view kContentHeader = "quillby-code-signature-v1";

uint32_t readLittleEndian32(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

void appendLittleEndian32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

// Takes the next line of `text` that starts with `prefix`; none when it does not.
std::optional<std::string_view> takeLine(std::string_view& text, std::string_view prefix) {
  size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end + 1);
  if (line.substr(0, prefix.size()) != prefix) {
    return std::nullopt;
  }
  return line.substr(prefix.size());
}

int hexValue(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  if (digit >= 'a' && digit <= 'f') {
    return digit - 'a' + 10;
  }
  return -1;
}

} // namespace

SecStatus locateSignatureTrailer(int fd, uint64_t fileSize, SignatureTrailer& trailer) {
  if (fileSize < kSignatureFooterSize) {
    return SecStatus(errSecCSUnsigned, "code object is not signed at all");
  }
  uint8_t footer[kSignatureFooterSize];
  const ssize_t got = posix::retryOnInterrupt([&] {
    return ::pread(fd, footer, sizeof footer, static_cast<off_t>(fileSize - sizeof footer));
  });
  if (got != static_cast<ssize_t>(sizeof footer)) {
    return SecStatus(errSecCSSignatureFailed, "cannot read the signature footer");
  }
  if (std::memcmp(footer, kSignatureMagic, sizeof kSignatureMagic) != 0) {
    return SecStatus(errSecCSUnsigned, "code object is not signed at all");
  }
  uint32_t version = readLittleEndian32(footer + 8);
  uint32_t blobLength = readLittleEndian32(footer + 12);
  if (version != kSignatureFormatVersion) {
    return SecStatus(errSecCSSignatureFailed,
                     "unsupported signature format version " + std::to_string(version));
  }
  if (blobLength == 0 || blobLength > kMaxSignatureBlobSize ||
      blobLength > fileSize - kSignatureFooterSize) {
    return SecStatus(errSecCSSignatureFailed, "signature length out of bounds");
  }
  trailer.blobLength = blobLength;
  trailer.codeLength = fileSize - kSignatureFooterSize - blobLength;
  return SecStatus::success();
}

std::string encodeSignatureFooter(uint32_t blobLength) {
  std::string footer(kSignatureMagic, sizeof kSignatureMagic);
  appendLittleEndian32(footer, kSignatureFormatVersion);
  appendLittleEndian32(footer, blobLength);
  return footer;
}

std::string SignedContent::encode() const {
  std::string text(kContentHeader);
  text += "\nidentifier=" + identifier;
  text += "\ncode-length=" + std::to_string(codeLength);
  text += "\ncode-sha256=" + hexString(codeDigest) + "\n";
  return text;
}

std::optional<SignedContent> SignedContent::parse(std::string_view text, std::string* failure) {
  auto fail = [&](const char* reason) -> std::optional<SignedContent> {
    *failure = reason;
    return std::nullopt;
  };
  if (text.size() > 4096) {
    return fail("signed content too long");
  }
  auto header = takeLine(text, kContentHeader);
  if (!header || !header->empty()) {
    return fail("signed content has an unknown form");
  }
  SignedContent content;
  auto identifier = takeLine(text, "identifier=");
  if (!identifier || !isValidSigningIdentifier(*identifier)) {
    return fail("signed content has no valid identifier");
  }
  content.identifier = std::string(*identifier);
  auto length = takeLine(text, "code-length=");
  if (!length || length->empty() || length->size() > 20 ||
      (length->size() > 1 && length->front() == '0')) {
    return fail("signed content has no valid code length");
  }
  auto [end, error] =
      std::from_chars(length->data(), length->data() + length->size(), content.codeLength);
  if (error != std::errc() || end != length->data() + length->size()) {
    return fail("signed content has no valid code length");
  }
  auto digest = takeLine(text, "code-sha256=");
  if (!digest || digest->size() != 64 || !text.empty()) {
    return fail("signed content has no valid digest");
  }
  for (size_t index = 0; index < content.codeDigest.size(); ++index) {
    int high = hexValue((*digest)[2 * index]);
    int low = hexValue((*digest)[2 * index + 1]);
    if (high < 0 || low < 0) {
      return fail("signed content has no valid digest");
    }
    content.codeDigest[index] = static_cast<uint8_t>(high << 4 | low);
  }
  return content;
}

bool isValidSigningIdentifier(std::string_view identifier) {
  if (identifier.empty() || identifier.size() > 255) {
    return false;
  }
  for (char c : identifier) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '.' || c == '_' || c == '-' || c == '+';
    if (!allowed) {
      return false;
    }
  }
  return true;
}

} // namespace platform::security
