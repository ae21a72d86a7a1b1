#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace operations {

// Keeps the persistent list of allowed user identifiers: a binary property list whose root is
// an array of unsigned 32-bit integers, in order of addition and without duplicates, inside a
// folder named by the agent's bundle identifier under the system's Application Support folder,
// where an ordinary user cannot write. Safe to call from several threads at once: additions
// are serialised, so none is lost.
class UserAuthorizationPrivilegedOperations {
public:
  static constexpr const char* kApplicationSupportPath = "/Library/Application Support";
  static constexpr const char* kAllowedListFileName = "allowed.plist";
  // A longer file is not a list this agent wrote; it is read as damaged.
  static constexpr size_t kMaxAllowedListBytes = 16u * 1024 * 1024;

  // True when `uid` is (now) in the list. A missing list, or a file that is no list, is
  // replaced by one that holds only `uid`; entries of a list that are not identifiers are
  // dropped (and logged), the others kept. A rewrite keeps the file's owner and mode. Every
  // failure answers false; nothing is thrown.
  bool addUserToAllowedList(uint32_t uid) const;

  // The identifiers a list file holds: the integers of its root array that fit in 32 unsigned
  // bits, in order; `dropped` (when given) counts the other entries. None when the bytes are
  // not a property list whose root is an array.
  static std::optional<std::vector<uint32_t>> decodeAllowedList(std::string_view bytes,
                                                                size_t* dropped = nullptr);
  // The binary property list of `uids`.
  static std::string encodeAllowedList(const std::vector<uint32_t>& uids);

  // Prefixes the Application Support folder with `root` (tests use a temporary folder).
  void setRootForTest(std::string root) { root_ = std::move(root); }

private:
  std::string root_;
};

} // namespace operations
