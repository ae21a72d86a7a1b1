#pragma once

#include <cstddef>

namespace platform::posix {

// Buffers at least this large are worth backing with huge pages.
inline constexpr size_t kHugePageWorthySize = size_t{16} << 20;

// Asks the kernel to back the whole 2 MiB pages inside [data, data + size) with transparent huge
// pages (the system's "madvise" mode grants them only on request), before the buffer is first
// written. Filling a buffer of a few hundred megabytes then takes a few hundred page faults
// instead of tens of thousands, and on a virtual machine those faults cost more than the
// copying itself. Buffers below kHugePageWorthySize are left alone; a refusal is harmless (the
// buffer keeps normal pages).
void adviseHugePages(const void* data, size_t size) noexcept;

} // namespace platform::posix
