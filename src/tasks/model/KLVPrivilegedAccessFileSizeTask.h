#pragma once

#include "tasks/model/KLVURLTask.h"

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessFileSizeTaskIdentifier =
    "kKLVPrivilegedAccessFileSizeTaskIdentifier";

// Measures one file that only root can read; the value is the size as an unsigned number.
class KLVPrivilegedAccessFileSizeTask final : public KLVURLTask {
public:
  using KLVURLTask::KLVURLTask;
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  std::string identifier() const override { return kKLVPrivilegedAccessFileSizeTaskIdentifier; }
  ResultPtr perform() override;
};

} // namespace tasks
