#pragma once

#include "tasks/model/KLVURLTask.h"

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessTeamIdentifierTaskIdentifier =
    "kKLVPrivilegedAccessTeamIdentifierTaskIdentifier";
inline constexpr const char* kKLVPrivilegedAccessBundleIdentifierTaskIdentifier =
    "kKLVPrivilegedAccessBundleIdentifierTaskIdentifier";

// Reads the team identifier of the code at a URL. Only "url" is archived: the validity flag is
// set by the initializer and a decoded task holds false.
class KLVPrivilegedAccessTeamIdentifierTask final : public KLVURLTask {
public:
  KLVPrivilegedAccessTeamIdentifierTask(platform::URL url, bool shouldCheckValidityStatus)
      : KLVURLTask(std::move(url)), shouldCheckValidityStatus_(shouldCheckValidityStatus) {}
  KLVPrivilegedAccessTeamIdentifierTask(platform::UUID uuid, platform::URL url)
      : KLVURLTask(uuid, std::move(url)) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  bool shouldCheckValidityStatus() const { return shouldCheckValidityStatus_; }

  std::string identifier() const override {
    return kKLVPrivilegedAccessTeamIdentifierTaskIdentifier;
  }
  ResultPtr perform() override;

private:
  bool shouldCheckValidityStatus_ = false;
};

// Reads the bundle (signing) identifier of the code at a URL.
class KLVPrivilegedAccessBundleIdentifierTask final : public KLVURLTask {
public:
  using KLVURLTask::KLVURLTask;
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  std::string identifier() const override {
    return kKLVPrivilegedAccessBundleIdentifierTaskIdentifier;
  }
  ResultPtr perform() override;
};

} // namespace tasks
