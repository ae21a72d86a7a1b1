#pragma once

#include "platform/archive/Object.h"

#include <map>
#include <shared_mutex>
#include <string>
#include <string_view>

namespace platform::archive {

// Maps archived class names to the classes that decode them. An archive can only name classes
// found here; the caller's allowed classes then narrow that further at every step.
class ClassRegistry {
public:
  // A registry that knows the standard classes (strings, numbers, data, dates, UUIDs, URLs,
  // arrays, sets, dictionaries, errors, null and file handles).
  ClassRegistry();
  ClassRegistry(const ClassRegistry&) = delete;
  ClassRegistry& operator=(const ClassRegistry&) = delete;

  // The process-wide registry that archiving uses unless told otherwise.
  static ClassRegistry& shared();

  // Adds `objectClass`, which must outlive the registry (classes are static objects).
  // Registering a second class under a taken name replaces nothing and returns false.
  bool registerClass(const ObjectClass& objectClass);
  const ObjectClass* classNamed(std::string_view name) const;

private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, const ObjectClass*, std::less<>> classes_;
};

} // namespace platform::archive
