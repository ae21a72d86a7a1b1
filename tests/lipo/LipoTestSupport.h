#pragma once

#include "platform/foundation/Base64.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace lipo::test {

using platform::Bytes;

// A fresh directory under the system's temporary folder, removed with everything in it.
class TemporaryDirectory {
public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes, mode_t mode = 0644);
bool exists(const std::string& path);
// Whether a temporary file of a rewrite of `path` (".<name>.lipo.<suffix>" beside it) is left.
bool hasTemporaryBeside(const std::string& path);

// Runs `argv` (argv[0] an absolute path) without a shell; its exit status, or -1. Its standard
// output goes to `output` when given.
int run(const std::vector<std::string>& argv, std::string* output = nullptr);

// The compiler and the universal-file tool used to make and check real Mach-O files; none
// when not installed.
std::optional<std::string> clangPath();
std::optional<std::string> llvmLipoPath();

// Real single-architecture Mach-O objects compiled for Apple targets, made once per process
// ("arm64", "arm64e", "x86_64", "x86_64h"); empty when the compiler is missing.
const Bytes& machObject(const std::string& architecture);
// Whether the real-file tests can run (clang and llvm-lipo present and working).
bool haveRealTools();

// One slice of a universal file built byte by byte.
struct Slice {
  int32_t cpuType;
  int32_t cpuSubType;
  uint64_t offset;
  uint64_t size;
  uint32_t align;
  Bytes data; // written at `offset` when not empty
};
// A universal file with `count` records (the records given, or their number when count is
// none), in the 32-bit or 64-bit format.
Bytes fatFile(bool fat64, const std::vector<Slice>& slices,
              std::optional<uint32_t> count = std::nullopt);

inline constexpr int32_t kArm64 = 0x100000C;
inline constexpr int32_t kX86_64 = 0x1000007;

} // namespace lipo::test
