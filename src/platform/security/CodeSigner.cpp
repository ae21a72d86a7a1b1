#include "platform/security/CodeSigner.h"

#include "platform/posix/AtomicFile.h"
#include "platform/posix/ReadWrite.h"
#include "platform/posix/RetryOnInterrupt.h"
#include "platform/security/FileDigest.h"
#include "platform/security/OpenSSLTypes.h"
#include "platform/security/SignatureTrailer.h"
#include "platform/security/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::security {

namespace {

constexpr size_t kCopyChunk = 1024 * 1024;

NSError signingError(const std::string& message, const std::string& path) {
  return NSError(NSCocoaErrorDomain, NSFileWriteUnknownError,
                 {{NSLocalizedDescriptionKey, message}, {NSFilePathErrorKey, path}});
}

// The folder part of `path` ("" for a bare name, so that the folder is the current one).
std::string folderPrefix(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

BioPtr openPem(const std::string& path) {
  return BioPtr(BIO_new_file(path.c_str(), "r"));
}

// Copies [0, length) of `from` into `to` and hashes it on the way.
bool copyAndHash(int from, int to, uint64_t length, Sha256Digest& digest) {
  DigestContextPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  uint64_t offset = 0;
  while (offset < length) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, length - offset));
    const ssize_t got = posix::retryOnInterrupt(
        [&] { return ::pread(from, buffer.get(), want, static_cast<off_t>(offset)); });
    if (got <= 0 || posix::writeAll(to, buffer.get(), static_cast<size_t>(got)) != 0) {
      return false;
    }
    EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(got));
    offset += static_cast<uint64_t>(got);
  }
  return EVP_DigestFinal_ex(context.get(), digest.data(), nullptr) == 1;
}

} // namespace

bool makeSignatureBlob(const std::string& content, const SigningParameters& parameters,
                       std::string& blob, NSError* error) {
  auto fail = [&](const std::string& message, const std::string& path) {
    setError(error, signingError(takeOpenSSLError(message), path));
    return false;
  };
  BioPtr keyFile = openPem(parameters.keyPath);
  KeyPtr key(keyFile ? PEM_read_bio_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    return fail("cannot read the private key", parameters.keyPath);
  }
  BioPtr certificateFile = openPem(parameters.certificatePath);
  X509Ptr leaf(certificateFile ? PEM_read_bio_X509(certificateFile.get(), nullptr, nullptr, nullptr)
                               : nullptr);
  if (!leaf) {
    return fail("cannot read the signing certificate", parameters.certificatePath);
  }
  if (X509_check_private_key(leaf.get(), key.get()) != 1) {
    return fail("the private key does not belong to the signing certificate", parameters.keyPath);
  }
  X509StackPtr chain(sk_X509_new_null());
  if (parameters.chainPath) {
    BioPtr chainFile = openPem(*parameters.chainPath);
    if (!chainFile) {
      return fail("cannot read the certificate chain", *parameters.chainPath);
    }
    while (X509* certificate = PEM_read_bio_X509(chainFile.get(), nullptr, nullptr, nullptr)) {
      sk_X509_push(chain.get(), certificate);
    }
    ERR_clear_error();
    if (sk_X509_num(chain.get()) == 0) {
      return fail("no certificate in the chain file", *parameters.chainPath);
    }
  }
  BioPtr data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  CmsPtr cms(CMS_sign(leaf.get(), key.get(), chain.get(), data.get(), CMS_BINARY | CMS_NOSMIMECAP));
  if (!cms) {
    return fail("cannot make the signature", parameters.certificatePath);
  }
  int length = i2d_CMS_ContentInfo(cms.get(), nullptr);
  if (length <= 0 || static_cast<uint32_t>(length) > kMaxSignatureBlobSize) {
    return fail("signature too large", parameters.certificatePath);
  }
  blob.resize(static_cast<size_t>(length));
  auto* cursor = reinterpret_cast<unsigned char*>(blob.data());
  i2d_CMS_ContentInfo(cms.get(), &cursor);
  return true;
}

bool signFile(const std::string& path, const SigningParameters& parameters, NSError* error) {
  if (!isValidSigningIdentifier(parameters.identifier)) {
    setError(error,
             signingError("invalid signing identifier \"" + parameters.identifier + "\"", path));
    return false;
  }
  UniqueFd source(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!source.valid()) {
    setError(error, NSError::fileManagerError(errno, path, false));
    return false;
  }
  struct stat status {};
  if (::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    setError(error, signingError("not a regular file", path));
    return false;
  }
  uint64_t fileSize = static_cast<uint64_t>(status.st_size);
  SignatureTrailer existing;
  SecStatus trailer = locateSignatureTrailer(source.get(), fileSize, existing);
  uint64_t codeLength = fileSize;
  if (trailer.ok()) {
    codeLength = existing.codeLength; // replace the old signature
  } else if (trailer.code() != errSecCSUnsigned) {
    setError(error, signingError("existing signature is malformed: " + trailer.message(), path));
    return false;
  }

  // The signed copy is written beside the file and renamed over it once complete.
  const std::string folder = folderPrefix(path);
  const std::string name = path.substr(folder.size());
  auto output = posix::AtomicFile::create(folder.empty() ? "." : folder, name + ".sign-");
  if (!output) {
    setError(error, NSError::fileManagerError(errno, path + ".sign-XXXXXX", true));
    return false;
  }
  const std::string outputPath = folder + output->name();
  SignedContent content;
  content.identifier = parameters.identifier;
  content.codeLength = codeLength;
  if (!copyAndHash(source.get(), output->fd(), codeLength, content.codeDigest)) {
    setError(error, signingError("cannot copy the code", path));
    return false;
  }
  std::string blob;
  if (!makeSignatureBlob(content.encode(), parameters, blob, error)) {
    return false;
  }
  std::string footer = encodeSignatureFooter(static_cast<uint32_t>(blob.size()));
  if (posix::writeAll(output->fd(), blob.data(), blob.size()) != 0 ||
      posix::writeAll(output->fd(), footer.data(), footer.size()) != 0) {
    setError(error, NSError::fileManagerError(errno, outputPath, true));
    return false;
  }
  // Keep the owner where we may, and the mode always.
  if (auto failure = output->keepOwnerAndMode(status, /*ownerMayFail=*/true)) {
    const bool onCopy = failure->step != posix::AtomicFile::OwnershipFailure::Step::mode;
    setError(error, NSError::fileManagerError(failure->error, onCopy ? outputPath : path, true));
    return false;
  }
  if (output->commit(name, posix::AtomicFile::Durability::file) != 0) {
    setError(error, NSError::fileManagerError(errno, path, true));
    return false;
  }
  return true;
}

} // namespace platform::security
