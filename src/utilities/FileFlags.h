#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace utilities {

// The BSD file flag word as the file manager additions see it. Linux keeps one immutable bit
// and one append-only bit per inode (FS_IMMUTABLE_FL, FS_APPEND_FL); both the user and the
// system variant of a flag map to that one bit.
inline constexpr uint32_t UF_IMMUTABLE = 0x00000002;
inline constexpr uint32_t UF_APPEND = 0x00000004;
inline constexpr uint32_t SF_IMMUTABLE = 0x00020000;
inline constexpr uint32_t SF_APPEND = 0x00040000;
// The flags that forbid removing or changing an item.
inline constexpr uint32_t kImmutableFlagsMask = UF_IMMUTABLE | SF_IMMUTABLE;

// The flag word of the item that `fd` refers to; none (errno set) when the file system keeps
// no such flags.
std::optional<uint32_t> fileFlags(int fd);
// Sets the immutable and append-only bits of the item from `flags`; other inode flags stay.
bool setFileFlags(int fd, uint32_t flags);

// Opens the item `name` inside `directoryFd` (or the path itself with AT_FDCWD) so that its
// flags can be read and set, without following a final symbolic link and without opening
// anything other than a regular file or a directory (opening a device can have side effects).
// Returns -1 with errno set otherwise; the caller owns the descriptor.
int openForFlags(int directoryFd, const char* name, bool followSymlink);

// Clears the immutable flags of the item at `directoryFd`/`name` when it has any. Returns
// false with errno set when they were set but could not be cleared; true otherwise (also for
// items whose file system has no flags).
bool clearImmutableFlags(int directoryFd, const char* name, bool followSymlink, bool* hadFlags);

} // namespace utilities
