#pragma once

#include "platform/foundation/NSError.h"

#include <optional>
#include <string>

namespace platform::security {

// What signing one file needs: the signing identifier and PEM files for the private key, the
// leaf certificate and, optionally, the intermediate certificates to carry along.
struct SigningParameters {
  std::string identifier;
  std::string keyPath;
  std::string certificatePath;
  std::optional<std::string> chainPath;
};

// Signs `path` in place: the bytes before any existing signature are kept, hashed and followed
// by a new signature trailer. The result is written to a temporary file beside `path` (created
// exclusively) with the original mode and owner, and renamed over it only when complete, so a
// reader sees either the old or the new file. `path` itself must not be a symbolic link.
bool signFile(const std::string& path, const SigningParameters& parameters, NSError* error);

// Makes the DER signature blob for `content` (the CMS SignedData), for callers that lay out a
// signed file themselves (tests that build malformed files).
bool makeSignatureBlob(const std::string& content, const SigningParameters& parameters,
                       std::string& blob, NSError* error);

} // namespace platform::security
