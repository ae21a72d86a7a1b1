#include "platform/loader/DynamicLoader.h"

#include "platform/loader/ElfSection.h"
#include "platform/posix/UniqueFd.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>

namespace platform::loader {
namespace {

// The address of the ELF header of the main program as loaded.
const void* mainProgramBase() {
  const void* base = nullptr;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) -> int {
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const auto& header = info->dlpi_phdr[i];
          if (header.p_type == PT_LOAD && header.p_offset == 0) {
            *static_cast<const void**>(out) =
                reinterpret_cast<const void*>(info->dlpi_addr + header.p_vaddr);
            break;
          }
        }
        return 1; // the main program comes first
      },
      &base);
  return base;
}

// The bytes of one section of the ELF file at `path`; none when the file cannot be read, is
// not ELF, lacks the section or is malformed.
std::optional<std::string> readFileSection(const std::string& path, std::string_view section,
                                           size_t maximumSize) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  ElfSectionLookup lookup =
      readElfSection(fd.get(), static_cast<uint64_t>(status.st_size), section, maximumSize);
  if (lookup.outcome != ElfSectionLookup::Outcome::found) {
    return std::nullopt;
  }
  return std::move(lookup.bytes);
}

} // namespace

std::optional<MainProgramHandle> MainProgramHandle::open() {
  void* handle = dlopen(nullptr, RTLD_LAZY);
  if (handle == nullptr) {
    return std::nullopt;
  }
  return MainProgramHandle(handle);
}

MainProgramHandle::~MainProgramHandle() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}

const void* MainProgramHandle::symbol(const char* name) const {
  return dlsym(handle_, name);
}

std::optional<std::string> getSectionData(const void* imageSymbol, std::string_view segment,
                                          std::string_view section, size_t maximumSize) {
  if (imageSymbol == nullptr || segment != "__TEXT") {
    return std::nullopt;
  }
  Dl_info info{};
  if (dladdr(imageSymbol, &info) == 0 || info.dli_fbase == nullptr) {
    return std::nullopt;
  }
  // The loader's file name of the main program is whatever it was started as; the kernel's
  // link to the running executable is exact.
  std::string path = info.dli_fbase == mainProgramBase() || info.dli_fname == nullptr
                         ? std::string("/proc/self/exe")
                         : std::string(info.dli_fname);
  return readFileSection(path, section, maximumSize);
}

} // namespace platform::loader
