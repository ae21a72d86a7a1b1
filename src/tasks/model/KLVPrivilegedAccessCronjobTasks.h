#pragma once

#include "tasks/model/KLVTimeoutTask.h"

#include <string>

namespace tasks {

inline constexpr const char* kKLVPrivilegedCronjobFetcherTaskIdentifier =
    "kKLVPrivilegedCronjobFetcherTaskIdentifier";
inline constexpr const char* kKLVPrivilegedCronjobRemoverTaskIdentifier =
    "kKLVPrivilegedCronjobRemoverTaskIdentifier";

// Lists the cron jobs of every user: a result whose value is an array of KLVCronjob, with an
// error when some crontabs could not be read.
class KLVPrivilegedAccessCronjobFetcherTask final : public KLVTimeoutTask {
public:
  using KLVTimeoutTask::KLVTimeoutTask;
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  std::string identifier() const override { return kKLVPrivilegedCronjobFetcherTaskIdentifier; }
  ResultPtr perform() override;
};

// Removes one cron job line of one user. Archived "cronjobSource" and "userName". Always a
// status result: "failure" when the user has no such job.
class KLVPrivilegedAccessCronjobRemoverTask final : public KLVTimeoutTask {
public:
  KLVPrivilegedAccessCronjobRemoverTask(std::string cronjobSource, std::string userName,
                                        double externalUtilityExecutionTimeout)
      : KLVTimeoutTask(externalUtilityExecutionTimeout), cronjobSource_(std::move(cronjobSource)),
        userName_(std::move(userName)) {}
  KLVPrivilegedAccessCronjobRemoverTask(platform::UUID uuid, std::string cronjobSource,
                                        std::string userName,
                                        double externalUtilityExecutionTimeout)
      : KLVTimeoutTask(uuid, externalUtilityExecutionTimeout),
        cronjobSource_(std::move(cronjobSource)), userName_(std::move(userName)) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  const std::string& cronjobSource() const { return cronjobSource_; }
  const std::string& userName() const { return userName_; }

  std::string identifier() const override { return kKLVPrivilegedCronjobRemoverTaskIdentifier; }
  ResultPtr perform() override;
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;

private:
  std::string cronjobSource_;
  std::string userName_;
};

} // namespace tasks
