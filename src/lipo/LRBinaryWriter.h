#pragma once

#include "lipo/LRFatBinaryFile.h"
#include "platform/foundation/NSError.h"

namespace lipo {

// Writes a universal file holding exactly the given slices and puts it in place of the file at
// the given path. The new file is written beside the old one as "<path>.lipo" and renamed over
// it in one step, so the old file stays as it was until the new one is complete. It keeps the
// old file's owner, group and permission bits. Errors have the domain
// "BinaryWriterErrorDomain", except a failing rename, which reports the platform's file error.
// No exception leaves a writer.
class LRBinaryWriter {
public:
  virtual ~LRBinaryWriter() = default;

  virtual bool rewriteFatBinaryFile(const LRFatBinaryFile& file, platform::NSError* error) const;
};

} // namespace lipo
