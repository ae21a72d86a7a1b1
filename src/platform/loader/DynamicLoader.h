#pragma once

#include "platform/foundation/NSError.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::loader {

// The name under which an executable exports the marker of its own image. An executable that
// embeds property lists defines this symbol and exports it (see src/agent/CMakeLists.txt), the
// way a Mach-O executable exports its header.
inline constexpr const char* kExecuteHeaderSymbol = "_mh_execute_header";

// A dynamic-loader handle on the running main program; closed when released.
class MainProgramHandle {
public:
  // None when the loader gives no handle.
  static std::optional<MainProgramHandle> open();
  MainProgramHandle(MainProgramHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  MainProgramHandle& operator=(MainProgramHandle&&) = delete;
  ~MainProgramHandle();

  // The address of an exported symbol of the program, or null.
  const void* symbol(const char* name) const;

private:
  explicit MainProgramHandle(void* handle) : handle_(handle) {}
  void* handle_;
};

// The bytes of `section` in `segment` of the loaded image that contains `imageSymbol`. ELF has
// no named segments: the sections of the executable all count as "__TEXT". The bytes come from
// the image's file (the running executable for the main program). At most `maximumSize` bytes;
// none when the image has no such section.
std::optional<std::string> getSectionData(const void* imageSymbol, std::string_view segment,
                                          std::string_view section, size_t maximumSize);

} // namespace platform::loader
