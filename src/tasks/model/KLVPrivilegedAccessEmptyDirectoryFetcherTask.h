#pragma once

#include "tasks/model/KLVURLTask.h"

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessEmptyDirectoryFetcherTaskIdentifier =
    "kKLVPrivilegedAccessEmptyDirectoryFetcherTaskIdentifier";

// Tells whether a folder holds anything besides ".DS_Store": the value is YES when it holds
// another entry (or could not be read, with the error), NO when it is empty.
class KLVPrivilegedAccessEmptyDirectoryFetcherTask final : public KLVURLTask {
public:
  using KLVURLTask::KLVURLTask;
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  std::string identifier() const override {
    return kKLVPrivilegedAccessEmptyDirectoryFetcherTaskIdentifier;
  }
  ResultPtr perform() override;
};

} // namespace tasks
