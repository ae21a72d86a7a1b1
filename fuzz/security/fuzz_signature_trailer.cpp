// Treats arbitrary bytes as a file that may be signed: finds the footer, parses the CMS blob and
// its signed content, and reads the signing information (which also looks up the embedded Info
// section of the code part), all as StaticCode does for a file on disk. No trust anchors are
// involved: nothing here needs real keys.
#include "platform/security/SignatureTrailer.h"
#include "platform/security/StaticCode.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace platform::security;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The signed-content text on its own, as the CMS content would carry it.
  std::string reason;
  if (auto content = SignedContent::parse(
          std::string_view(reinterpret_cast<const char*>(data), size), &reason)) {
    check(isValidSigningIdentifier(content->identifier));
    auto reparsed = SignedContent::parse(content->encode(), &reason);
    check(reparsed && reparsed->encode() == content->encode());
  } else {
    check(!reason.empty());
  }

  UniqueFd file(::memfd_create("fuzz_signature_trailer", MFD_CLOEXEC));
  if (!file.valid() || ::write(file.get(), data, size) != static_cast<ssize_t>(size)) {
    return 0;
  }
  SignatureTrailer trailer;
  if (locateSignatureTrailer(file.get(), size, trailer).ok()) {
    check(trailer.blobLength > 0 && trailer.blobLength <= kMaxSignatureBlobSize);
    check(trailer.codeLength + trailer.blobLength + kSignatureFooterSize == size);
  }

  std::shared_ptr<StaticCode> code;
  check(StaticCode::createWithDescriptor(std::move(file), "fuzz", code).ok() && code);
  SigningInformation information;
  SecStatus status = code->copySigningInformation(information);
  check(status.ok() == code->signatureStatus().ok());
  if (status.ok()) {
    check(isValidSigningIdentifier(information.identifier));
    check(information.codeLength < size);
  }
  return 0;
}
