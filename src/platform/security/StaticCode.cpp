#include "platform/security/StaticCode.h"

#include "platform/loader/ElfSection.h"
#include "platform/posix/ReadWrite.h"
#include "platform/security/FileDigest.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::security {

namespace {

using loader::ElfSectionLookup;
using loader::readElfSection;

constexpr size_t kMaxInfoPlistSize = 1024 * 1024;

SecStatus notFound(const std::string& path, const std::string& reason) {
  return SecStatus(errSecCSStaticCodeNotFound, "code object not found: " + path + ": " + reason);
}

SecStatus modified(const std::string& reason) {
  return SecStatus(errSecCSSignatureFailed,
                   "invalid signature (code or signature have been modified): " + reason);
}

std::shared_ptr<const PropertyList> parseInfo(const std::string& bytes) {
  auto list = PropertyList::parse(bytes);
  if (!list || list->root().type() != PlistRef::Type::dictionary) {
    return nullptr;
  }
  return std::make_shared<const PropertyList>(std::move(*list));
}

bool currentStamp(int fd, FileStamp& stamp) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    return false;
  }
  stamp = FileStamp::of(status);
  return true;
}

} // namespace

SecStatus StaticCode::createWithPath(const std::string& path, std::shared_ptr<StaticCode>& code) {
  // Look before opening for reading: opening a device or a FIFO can have effects of its own.
  UniqueFd location(::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat status {};
  if (!location.valid() || ::fstat(location.get(), &status) != 0) {
    return notFound(path, std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return notFound(path, "not a regular file");
  }
  std::string reopen = "/proc/self/fd/" + std::to_string(location.get());
  UniqueFd fd(::open(reopen.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    return notFound(path, std::strerror(errno));
  }
  return createWithDescriptor(std::move(fd), path, code);
}

SecStatus StaticCode::createWithDescriptor(UniqueFd fd, const std::string& path,
                                           std::shared_ptr<StaticCode>& code) {
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return notFound(path, std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return notFound(path, "not a regular file");
  }
  auto result = std::make_shared<StaticCode>();
  result->fd_ = std::move(fd);
  result->path_ = path;
  result->stamp_ = FileStamp::of(status);
  result->signatureStatus_ =
      locateSignatureTrailer(result->fd_.get(), result->stamp_.size, result->trailer_);
  if (result->signatureStatus_.ok()) {
    std::string blob(result->trailer_.blobLength, '\0');
    if (posix::readFully(result->fd_.get(), blob.data(), blob.size(),
                         result->trailer_.codeLength) != 0) {
      result->signatureStatus_ = SecStatus(errSecCSSignatureFailed, "cannot read the signature");
    } else {
      result->signatureStatus_ = CodeSignature::parse(blob, result->signature_);
    }
  }
  code = std::move(result);
  return SecStatus::success();
}

std::shared_ptr<const PropertyList> StaticCode::readInfoUnverified() const {
  ElfSectionLookup lookup =
      readElfSection(fd_.get(), trailer_.codeLength, kInfoPlistSectionName, kMaxInfoPlistSize);
  if (lookup.outcome != ElfSectionLookup::Outcome::found) {
    return nullptr;
  }
  return parseInfo(lookup.bytes);
}

SecStatus StaticCode::copySigningInformation(SigningInformation& information) const {
  if (!signatureStatus_.ok()) {
    return signatureStatus_;
  }
  information = SigningInformation();
  information.path = path_;
  information.identifier = signature_.content().identifier;
  information.leaf = signature_.leaf();
  information.teamIdentifier = information.leaf.firstSubjectValue("OU");
  information.certificates = signature_.embeddedChain();
  information.info = readInfoUnverified();
  information.codeLength = trailer_.codeLength;
  return SecStatus::success();
}

SecStatus StaticCode::verifyCode(const ValidationOptions& options,
                                 SigningInformation& information) const {
  const SignedContent& content = signature_.content();
  if (content.codeLength != trailer_.codeLength) {
    return modified("signature does not cover exactly the code");
  }
  std::shared_ptr<const TrustAnchors> anchors;
  if (SecStatus status = TrustAnchors::loadDefaultOr(options.anchorsDirectory, anchors); !status) {
    return status;
  }
  {
    // OpenSSL caches state inside the CMS object while verifying it.
    std::lock_guard<std::mutex> guard(signatureLock_);
    if (SecStatus status = signature_.verifySignature(); !status) {
      return status;
    }
    if (SecStatus status = signature_.verifyChain(*anchors, information.certificates); !status) {
      return status;
    }
  }
  if (options.flags & kSecCSDoNotValidateExecutable) {
    information.info = readInfoUnverified();
    return SecStatus::success();
  }

  ElfSectionLookup section =
      readElfSection(fd_.get(), trailer_.codeLength, kInfoPlistSectionName, kMaxInfoPlistSize);
  bool hasInfo = section.outcome == ElfSectionLookup::Outcome::found;
  FileStamp before;
  if (!currentStamp(fd_.get(), before)) {
    return modified("cannot inspect the file");
  }
  Sha256Digest digest{};
  std::string infoBytes;
  std::optional<Sha256Digest> cached;
  if (options.useDigestCache) {
    cached = DigestCache::shared().lookup(before, trailer_.codeLength);
  }
  if (cached) {
    // The section bytes were read outside the hash: they count only if the file still has the
    // stamp under which its digest was recorded.
    FileStamp after;
    if (!currentStamp(fd_.get(), after) || !(after == before)) {
      return modified("file changed while being validated");
    }
    digest = *cached;
    infoBytes = std::move(section.bytes);
  } else {
    CapturedRange capture;
    if (hasInfo) {
      capture.offset = section.offset;
      capture.bytes.resize(section.bytes.size());
    }
    struct timespec started {};
    ::clock_gettime(CLOCK_REALTIME, &started);
    std::string failure;
    if (!sha256OfFilePrefix(fd_.get(), trailer_.codeLength, digest, &failure,
                            hasInfo ? &capture : nullptr)) {
      return modified(failure);
    }
    FileStamp after;
    if (options.useDigestCache && currentStamp(fd_.get(), after) && after == before) {
      DigestCache::shared().store(before, trailer_.codeLength, digest, started);
    }
    infoBytes = std::move(capture.bytes); // exactly the bytes that were hashed
  }
  if (digest != content.codeDigest) {
    return modified("code digest mismatch");
  }
  if (hasInfo) {
    information.info = parseInfo(infoBytes);
  }
  return SecStatus::success();
}

SecStatus StaticCode::checkValidity(const ValidationOptions& options,
                                    const Requirement* requirement,
                                    SigningInformation* validated) const {
  if (!signatureStatus_.ok()) {
    return signatureStatus_;
  }
  SigningInformation information;
  information.path = path_;
  information.identifier = signature_.content().identifier;
  information.leaf = signature_.leaf();
  information.teamIdentifier = information.leaf.firstSubjectValue("OU");
  information.codeLength = trailer_.codeLength;
  if (SecStatus status = verifyCode(options, information); !status) {
    return status;
  }
  information.validated = true;
  if (requirement != nullptr) {
    RequirementContext context;
    context.identifier = information.identifier;
    context.info = information.info.get();
    context.chain = information.certificates;
    context.anchorTrusted = true; // verifyCode succeeded, so the chain reached an anchor
    if (!requirement->isSatisfiedBy(context)) {
      return SecStatus(errSecCSReqFailed, "code failed to satisfy specified code requirement(s): " +
                                              requirement->text());
    }
  }
  if (validated != nullptr) {
    *validated = std::move(information);
  }
  return SecStatus::success();
}

} // namespace platform::security
