#pragma once

#include "lipo/LRArchitecture.h"
#include "lipo/LRBinaryReader.h"
#include "lipo/LRBinaryWriter.h"
#include "platform/foundation/NSError.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lipo {

// The front of the thinning library: which architecture of a binary this machine runs, which
// slices are not needed, and rewriting a universal file so that only one slice is left.
// Errors have the domain "LipoErrorDomain" or those of the reader and writer; no exception
// leaves an LRLipo. Safe to use from several threads at once.
class LRLipo {
public:
  LRLipo();
  LRLipo(std::shared_ptr<const LRBinaryReader> binaryReader,
         std::shared_ptr<const LRBinaryWriter> binaryWriter);

  const LRBinaryReader& binaryReader() const { return *binaryReader_; }
  const LRBinaryWriter& binaryWriter() const { return *binaryWriter_; }

  // The processor this library is built to run on is arm64.
  static constexpr bool targetCpuArm64 = true;
  static constexpr bool targetCpuX86_64 = false;
  // Whether the process runs translated from another architecture; never on Linux.
  static bool runByRosetta();

  // Rewrites the universal file at `path` so that only the first slice whose architecture is
  // named `compatibleArchitecture` ("arm64" or "x86_64") is left, in the file's fat format.
  // Fails with the reader's error for a file that is not universal, with code 2 when no slice
  // matches (the file is then unchanged), or with the writer's error.
  bool removeUnnecessaryThinFilesFromBinaryAtPath(const std::string& path,
                                                  const std::string& compatibleArchitecture,
                                                  platform::NSError* error) const;

  // The architecture of the binary that this machine should run; code 4 when there is none.
  std::optional<LRArchitecture>
  compatibleArchitectureForBinaryAtPath(const std::string& path, platform::NSError* error) const;

  // The slices of the binary that none of `compatibleArchitectures` needs (empty for a
  // single-architecture file of a wanted architecture); code 2 or 3 when nothing in the file
  // is wanted.
  std::optional<std::vector<LRThinFile>>
  getUnnecessaryThinFilesForBinaryAtPath(const std::string& path,
                                         const std::vector<LRArchitecture>& compatibleArchitectures,
                                         platform::NSError* error) const;

private:
  std::shared_ptr<const LRBinaryReader> binaryReader_;
  std::shared_ptr<const LRBinaryWriter> binaryWriter_;
};

} // namespace lipo
