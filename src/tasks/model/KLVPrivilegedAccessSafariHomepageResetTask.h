#pragma once

#include "tasks/model/KLVTimeoutTask.h"

#include <string>

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessSafariHomepageResetTaskIdentifier =
    "kKLVPrivilegedAccessSafariHomepageResetTaskIdentifier";

inline constexpr const char* kKLVPrivilegedAccessSafariHomepageResetTaskErrorDomain =
    "kKLVPrivilegedAccessSafariHomepageResetTaskErrorDomain";
// The user is unknown or has no home folder; the user information names the user.
inline constexpr int64_t kKLVPrivilegedAccessSafariHomepageResetTaskUnknownUser = 1;

// Resets one user's browser home page to the default start page. Archived "userName".
class KLVPrivilegedAccessSafariHomepageResetTask final : public KLVTimeoutTask {
public:
  KLVPrivilegedAccessSafariHomepageResetTask(std::string userName,
                                             double externalUtilityExecutionTimeout)
      : KLVTimeoutTask(externalUtilityExecutionTimeout), userName_(std::move(userName)) {}
  KLVPrivilegedAccessSafariHomepageResetTask(platform::UUID uuid, std::string userName,
                                             double externalUtilityExecutionTimeout)
      : KLVTimeoutTask(uuid, externalUtilityExecutionTimeout), userName_(std::move(userName)) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  const std::string& userName() const { return userName_; }

  std::string identifier() const override {
    return kKLVPrivilegedAccessSafariHomepageResetTaskIdentifier;
  }
  ResultPtr perform() override;
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override {
    return KLVTimeoutTask::hash() ^ std::hash<std::string>()(userName_);
  }

private:
  std::string userName_;
};

} // namespace tasks
