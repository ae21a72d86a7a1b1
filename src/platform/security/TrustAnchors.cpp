#include "platform/security/TrustAnchors.h"

#include "platform/posix/DirectoryReader.h"
#include "platform/posix/ReadWrite.h"
#include "platform/security/RootControlledPath.h"
#include "platform/security/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <vector>

namespace platform::security {

namespace {

constexpr size_t kMaxAnchorFiles = 256;
constexpr off_t kMaxAnchorFileSize = 1024 * 1024;

SecStatus refused(const std::string& reason) {
  return SecStatus(errSecCSSignatureFailed, "trust anchors refused: " + reason);
}

// Opens `directory` without following links; in production every directory on the way must be
// root-controlled, so that nobody but root can swap anchors in.
SecStatus openAnchorDirectory(const std::string& directory, bool production, UniqueFd& out) {
  std::string reason;
  if (!openDirectoryWithoutLinks(directory, production, out, reason)) {
    return refused(reason);
  }
  return SecStatus::success();
}

bool hasPemSuffix(const char* name) {
  size_t length = std::strlen(name);
  return length > 4 && std::strcmp(name + length - 4, ".pem") == 0 && name[0] != '.';
}

// Reads all certificates of one PEM file into `store`; returns how many.
SecStatus loadAnchorFile(int directoryFd, const std::string& name, bool production,
                         X509_STORE* store, size_t& loaded) {
  UniqueFd file(
      ::openat(directoryFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    return refused(name + ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return refused(name + " is not a regular file");
  }
  if (production && !isRootControlled(status)) {
    return refused(name + " is writable by someone other than root");
  }
  if (status.st_size > kMaxAnchorFileSize) {
    return refused(name + " is too large");
  }
  std::string bytes(static_cast<size_t>(status.st_size), '\0');
  if (posix::readFully(file.get(), bytes.data(), bytes.size(), 0) != 0) {
    return refused(name + ": cannot read");
  }
  BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  while (X509Ptr certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    if (X509_STORE_add_cert(store, certificate.get()) != 1) {
      ERR_clear_error(); // a duplicate of an anchor already loaded
      continue;
    }
    ++loaded;
  }
  ERR_clear_error(); // the reader ends with "no start line"
  return SecStatus::success();
}

} // namespace

SecStatus TrustAnchors::load(const std::string& directory, Mode mode,
                             std::shared_ptr<const TrustAnchors>& anchors) {
  bool production = mode == Mode::production;
  UniqueFd directoryFd;
  if (SecStatus status = openAnchorDirectory(directory, production, directoryFd); !status) {
    return status;
  }
  auto listing = posix::DirectoryReader::adopt(UniqueFd(::dup(directoryFd.get())));
  if (!listing) {
    return refused(directory + ": cannot list");
  }
  std::vector<std::string> names;
  while (auto name = listing->next()) {
    if (hasPemSuffix(name->data())) {
      names.emplace_back(*name);
    }
  }
  listing->close();
  if (names.size() > kMaxAnchorFiles) {
    return refused(directory + " holds too many files");
  }

  auto result = std::make_shared<TrustAnchors>();
  result->store_.reset(X509_STORE_new());
  if (!result->store_) {
    return refused("out of memory");
  }
  for (const std::string& name : names) {
    SecStatus status =
        loadAnchorFile(directoryFd.get(), name, production, result->store_.get(), result->count_);
    if (!status) {
      return status;
    }
  }
  if (result->count_ == 0) {
    return refused("no certificate in " + directory);
  }
  anchors = std::move(result);
  return SecStatus::success();
}

SecStatus TrustAnchors::loadDefaultOr(const std::optional<std::string>& directory,
                                      std::shared_ptr<const TrustAnchors>& anchors) {
  if (directory) {
    return load(*directory, Mode::testing, anchors);
  }
  return load(kDefaultTrustAnchorsDirectory, Mode::production, anchors);
}

} // namespace platform::security
