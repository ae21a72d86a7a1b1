#pragma once

#include "tasks/model/KLVPrivilegedAccessTask.h"

#include <cstdint>

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessProcessTerminatorTaskIdentifier =
    "kKLVPrivilegedAccessProcessTerminatorTaskIdentifier";

// Ends the process group of one process with SIGKILL. Archived "processIdentifier" (32-bit);
// 0 does not decode.
class KLVPrivilegedAccessProcessTerminatorTask final : public KLVPrivilegedAccessTask {
public:
  explicit KLVPrivilegedAccessProcessTerminatorTask(int32_t processIdentifier)
      : processIdentifier_(processIdentifier) {}
  KLVPrivilegedAccessProcessTerminatorTask(platform::UUID uuid, int32_t processIdentifier)
      : KLVPrivilegedAccessTask(uuid), processIdentifier_(processIdentifier) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  int32_t processIdentifier() const { return processIdentifier_; }

  std::string identifier() const override {
    return kKLVPrivilegedAccessProcessTerminatorTaskIdentifier;
  }
  ResultPtr perform() override;

  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override {
    return KLVPrivilegedAccessTask::hash() ^ static_cast<size_t>(processIdentifier_);
  }

private:
  int32_t processIdentifier_;
};

} // namespace tasks
