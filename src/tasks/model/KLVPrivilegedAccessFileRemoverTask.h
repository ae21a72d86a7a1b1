#pragma once

#include "tasks/model/KLVURLTask.h"

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessFileRemoverTaskIdentifier =
    "kKLVPrivilegedAccessFileRemoverTaskIdentifier";

// Removes one file or folder tree as root, clearing immutable flags when needed, and then the
// parent folder if that is left empty.
class KLVPrivilegedAccessFileRemoverTask final : public KLVURLTask {
public:
  using KLVURLTask::KLVURLTask;
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  std::string identifier() const override { return kKLVPrivilegedAccessFileRemoverTaskIdentifier; }
  ResultPtr perform() override;
};

} // namespace tasks
