#pragma once

#include "lipo/ByteSource.h"
#include "lipo/LRFatBinaryFile.h"
#include "lipo/LRNonFatBinaryFile.h"
#include "platform/foundation/NSError.h"

#include <memory>
#include <optional>
#include <string>

namespace lipo {

// Parses universal files (32-bit and 64-bit fat formats) and single-architecture files. All
// checks of the untrusted bytes happen here, in one pass, before anything is returned.
// Errors have the domain "BinaryReaderErrorDomain"; platform errors of opening the file are
// passed through. No exception leaves a reader.
class LRBinaryReader {
public:
  virtual ~LRBinaryReader() = default;

  virtual std::optional<LRFatBinaryFile> getFatBinaryFileAtPath(const std::string& path,
                                                                platform::NSError* error) const;
  virtual std::optional<LRNonFatBinaryFile>
  getNonFatBinaryFileAtPath(const std::string& path, platform::NSError* error) const;

  // The same parsing over bytes already at hand; `path` is only recorded in the result.
  std::optional<LRFatBinaryFile> getFatBinaryFile(const std::string& path,
                                                  std::shared_ptr<const ByteSource> source,
                                                  platform::NSError* error) const;
  std::optional<LRNonFatBinaryFile> getNonFatBinaryFile(const std::string& path,
                                                        const ByteSource& source,
                                                        platform::NSError* error) const;
};

} // namespace lipo
