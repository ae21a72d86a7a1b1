#include "platform/loader/DynamicLoader.h"

#include "platform/loader/ElfSections.h"

#include <dlfcn.h>
#include <link.h>

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
  return readElfSection(path, section, maximumSize);
}

} // namespace platform::loader
