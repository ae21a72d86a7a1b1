#pragma once

#include "tasks/model/KLVConfigurationProfile.h"
#include "tasks/model/KLVTimeoutTask.h"

#include <memory>

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessProfileFetcherTaskIdentifier =
    "kKLVPrivilegedAccessProfileFetcherTaskIdentifier";
inline constexpr const char* kKLVPrivilegedAccessProfileRemoverTaskIdentifier =
    "kKLVPrivilegedAccessProfileRemoverTaskIdentifier";

// Lists every installed configuration profile, of the device and of every user.
class KLVPrivilegedAccessProfileFetcherTask final : public KLVTimeoutTask {
public:
  using KLVTimeoutTask::KLVTimeoutTask;
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  std::string identifier() const override {
    return kKLVPrivilegedAccessProfileFetcherTaskIdentifier;
  }
  ResultPtr perform() override;
};

// Removes one configuration profile, archived under "profile", that a listing reported.
class KLVPrivilegedAccessProfileRemoverTask final : public KLVTimeoutTask {
public:
  KLVPrivilegedAccessProfileRemoverTask(std::shared_ptr<KLVConfigurationProfile> profile,
                                        double externalUtilityExecutionTimeout)
      : KLVTimeoutTask(externalUtilityExecutionTimeout), profile_(std::move(profile)) {}
  KLVPrivilegedAccessProfileRemoverTask(platform::UUID uuid,
                                        std::shared_ptr<KLVConfigurationProfile> profile,
                                        double externalUtilityExecutionTimeout)
      : KLVTimeoutTask(uuid, externalUtilityExecutionTimeout), profile_(std::move(profile)) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  const std::shared_ptr<KLVConfigurationProfile>& profile() const { return profile_; }

  std::string identifier() const override {
    return kKLVPrivilegedAccessProfileRemoverTaskIdentifier;
  }
  ResultPtr perform() override;
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override { return KLVTimeoutTask::hash() ^ profile_->hash(); }

private:
  std::shared_ptr<KLVConfigurationProfile> profile_;
};

} // namespace tasks
