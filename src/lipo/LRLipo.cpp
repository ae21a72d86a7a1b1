#include "lipo/LRLipo.h"

#include "lipo/LipoErrors.h"
#include "lipo/LipoServiceExtensions.h"

namespace lipo {
namespace {

using platform::NSError;

constexpr const char* kNoCompatibleArchitecture = "Binary haven't compatible architecture";
constexpr const char* kCompatibleArchitectureNotFound = "Compatible architecture not found";

NSError lipoError(int64_t code, std::string description) {
  return makeLipoError(LipoErrorDomain, code, std::move(description));
}

// Same CPU type, and the same subtype once the capability bits are cleared on both sides.
bool isCompatible(int32_t cpuType, int32_t cpuSubType, const std::vector<LRArchitecture>& wanted) {
  return lipo_contains(wanted, [&](const LRArchitecture& architecture) {
    return architecture.cpuType() == cpuType &&
           LRArchitecture::cpuSubtypeWithMask(architecture.cpuSubType()) ==
               LRArchitecture::cpuSubtypeWithMask(cpuSubType);
  });
}

std::optional<LRArchitecture> firstNamed(const std::vector<LRArchitecture>& architectures,
                                         const std::string& name) {
  return lipo_first(architectures, [&](const LRArchitecture& architecture) {
    return architecture.name() == name;
  });
}

} // namespace

LRLipo::LRLipo() : LRLipo(std::make_shared<LRBinaryReader>(), std::make_shared<LRBinaryWriter>()) {}

LRLipo::LRLipo(std::shared_ptr<const LRBinaryReader> binaryReader,
               std::shared_ptr<const LRBinaryWriter> binaryWriter)
    : binaryReader_(std::move(binaryReader)), binaryWriter_(std::move(binaryWriter)) {}

bool LRLipo::runByRosetta() {
  // Translation of another architecture's binaries does not exist on Linux; a failing query
  // means "not translated".
  return false;
}

bool LRLipo::removeUnnecessaryThinFilesFromBinaryAtPath(const std::string& path,
                                                        const std::string& compatibleArchitecture,
                                                        NSError* error) const {
  try {
    std::optional<LRFatBinaryFile> fatFile = binaryReader_->getFatBinaryFileAtPath(path, error);
    if (!fatFile) {
      return false;
    }
    std::optional<LRThinFile> kept = lipo_first(fatFile->thinFiles(), [&](const LRThinFile& slice) {
      auto architecture =
          LRArchitecture::getArchitectureByCpuType(slice.cpuType(), slice.cpuSubType());
      return architecture && architecture->name() == compatibleArchitecture;
    });
    if (!kept) {
      setError(error, lipoError(2, kNoCompatibleArchitecture));
      return false;
    }
    const LRFatBinaryFile thinned(fatFile->path(), fatFile->fat64Flag(), {std::move(*kept)},
                                  fatFile->sourceIdentity());
    return binaryWriter_->rewriteFatBinaryFile(thinned, error);
  } catch (...) {
    setError(error, exceptionError(LipoErrorDomain, 4, std::current_exception()));
    return false;
  }
}

std::optional<LRArchitecture> LRLipo::compatibleArchitectureForBinaryAtPath(const std::string& path,
                                                                            NSError* error) const {
  try {
    std::optional<LRArchitecture> chosen;
    if (std::optional<LRFatBinaryFile> fatFile =
            binaryReader_->getFatBinaryFileAtPath(path, nullptr)) {
      const std::vector<LRArchitecture> known =
          lipo_map(fatFile->thinFiles(), [](const LRThinFile& slice, size_t) {
            return LRArchitecture::getArchitectureByCpuType(slice.cpuType(), slice.cpuSubType());
          });
      if (targetCpuArm64 || runByRosetta()) {
        chosen = firstNamed(known, "arm64");
        if (!chosen) {
          chosen = firstNamed(known, "x86_64");
        }
      } else if (targetCpuX86_64) {
        chosen = firstNamed(known, "x86_64");
      }
    }
    if (!chosen) {
      if (auto nonFat = binaryReader_->getNonFatBinaryFileAtPath(path, nullptr)) {
        chosen = nonFat->architecture();
      }
    }
    if (!chosen) {
      setError(error, lipoError(4, kCompatibleArchitectureNotFound));
    }
    return chosen;
  } catch (...) {
    setError(error, exceptionError(LipoErrorDomain, 4, std::current_exception()));
    return std::nullopt;
  }
}

std::optional<std::vector<LRThinFile>> LRLipo::getUnnecessaryThinFilesForBinaryAtPath(
    const std::string& path, const std::vector<LRArchitecture>& compatibleArchitectures,
    NSError* error) const {
  try {
    NSError readError;
    if (auto fatFile = binaryReader_->getFatBinaryFileAtPath(path, &readError)) {
      const auto& slices = fatFile->thinFiles();
      auto compatible = [&](const LRThinFile& slice) {
        return isCompatible(slice.cpuType(), slice.cpuSubType(), compatibleArchitectures);
      };
      if (!lipo_contains(slices, compatible)) {
        setError(error, lipoError(2, kNoCompatibleArchitecture));
        return std::nullopt;
      }
      return lipo_filter(slices, [&](const LRThinFile& slice) { return !compatible(slice); });
    }
    if (readError.domain() != BinaryReaderErrorDomain || readError.code() != 2) {
      // The file could not be read at all: say why.
      setError(error, std::move(readError));
      return std::nullopt;
    }
    auto nonFat = binaryReader_->getNonFatBinaryFileAtPath(path, nullptr);
    if (nonFat && isCompatible(nonFat->architecture().cpuType(),
                               nonFat->architecture().cpuSubType(), compatibleArchitectures)) {
      return std::vector<LRThinFile>();
    }
    setError(error, lipoError(3, kNoCompatibleArchitecture));
    return std::nullopt;
  } catch (...) {
    setError(error, exceptionError(LipoErrorDomain, 4, std::current_exception()));
    return std::nullopt;
  }
}

} // namespace lipo
