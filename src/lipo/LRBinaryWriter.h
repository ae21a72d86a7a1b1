#pragma once

#include "lipo/LRFatBinaryFile.h"
#include "platform/foundation/NSError.h"

namespace lipo {

// Writes a universal file holding exactly the given slices and puts it in place of the file at
// the given path (through a symbolic link, the file that the link names; the link stays). The
// new file is created exclusively beside the old one under a fresh name (".<name>.lipo.XXXXXX")
// and renamed over it in one step, so the old file stays as it was until the new one is
// complete, and no other file is ever removed. Holes in the slices stay holes. It keeps the old
// file's owner, group and permission bits. Errors have the domain
// "BinaryWriterErrorDomain", except a failing rename, which reports the platform's file error.
// No exception leaves a writer.
class LRBinaryWriter {
public:
  virtual ~LRBinaryWriter() = default;

  virtual bool rewriteFatBinaryFile(const LRFatBinaryFile& file, platform::NSError* error) const;
};

} // namespace lipo
