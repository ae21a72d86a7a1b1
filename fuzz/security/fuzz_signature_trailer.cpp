// Treats arbitrary bytes as a file that may be signed: finds the footer, parses the CMS blob and
// its signed content, reads the signing information (which also looks up the embedded Info
// section of the code part) and runs the full validity check with a requirement, all as
// StaticCode does for a file on disk. The only trust anchor is the throw-away certificate that
// signed the seed in fuzz/seeds/fuzz_signature_trailer, so no real keys are involved.
#include "platform/security/Requirement.h"
#include "platform/security/SignatureTrailer.h"
#include "platform/security/StaticCode.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

constexpr char kSeedAnchor[] = R"(-----BEGIN CERTIFICATE-----
MIIBpzCCAU2gAwIBAgIUYk7i0uWgegWVQ58th4LvYFK3iKcwCgYIKoZIzj0EAwIw
KTESMBAGA1UEAwwJRnV6eiBTZWVkMRMwEQYDVQQLDApRNFc3WksyTTlUMB4XDTI2
MTIwODE4MDYyN1oXDTM2MTIwNTE4MDYyN1owKTESMBAGA1UEAwwJRnV6eiBTZWVk
MRMwEQYDVQQLDApRNFc3WksyTTlUMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE
Rm2tF2qFxp3FyNSMKTsu8GBfFKJC/KJMz6oMspj+YTJ4PT9bBMc3E5Nh/8z2mu51
QAr9qFYK5jFqttju1S66oaNTMFEwHQYDVR0OBBYEFMdRaUbU9EtC7ZEVojC80AeY
TCKgMB8GA1UdIwQYMBaAFMdRaUbU9EtC7ZEVojC80AeYTCKgMA8GA1UdEwEB/wQF
MAMBAf8wCgYIKoZIzj0EAwIDSAAwRQIhAIZ+8RZpsRocb3YTYTb7K2o2FeFj65RJ
KkYAwc6iWe+HAiB79m6KyEtLpuuJNO1wUHEsfbnCEd4Dl9fzVtqXf5Aa1w==
-----END CERTIFICATE-----
)";

// A directory holding the seed's anchor, removed when the fuzzer exits.
struct AnchorDirectory {
  std::string path;
  std::string file;

  AnchorDirectory() {
    char pattern[] = "/tmp/fuzz_signature_trailer.XXXXXX";
    check(::mkdtemp(pattern) != nullptr);
    path = pattern;
    file = path + "/seed.pem";
    UniqueFd out(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    check(out.valid());
    check(::write(out.get(), kSeedAnchor, sizeof kSeedAnchor - 1) ==
          static_cast<ssize_t>(sizeof kSeedAnchor - 1));
  }
  ~AnchorDirectory() {
    ::unlink(file.c_str());
    ::rmdir(path.c_str());
  }
};

const Requirement& agentRequirement() {
  static const Requirement requirement = [] {
    Requirement compiled;
    check(Requirement::compile("identifier \"com.quillby.Lumora5.Agent\" and anchor trusted and "
                               "certificate leaf[subject.OU] = \"Q4W7ZK2M9T\"",
                               compiled)
              .ok());
    return compiled;
  }();
  return requirement;
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
  if (!status.ok()) {
    return 0;
  }
  check(isValidSigningIdentifier(information.identifier));
  check(information.codeLength < size);

  static const AnchorDirectory anchors;
  ValidationOptions options;
  options.anchorsDirectory = anchors.path;
  options.useDigestCache = false; // memory files reuse inode numbers: the cache could match
  SigningInformation validated;
  if (code->checkValidity(options, &agentRequirement(), &validated).ok()) {
    check(validated.validated && validated.identifier == "com.quillby.Lumora5.Agent");
    check(!validated.certificates.empty());
  }
  return 0;
}
