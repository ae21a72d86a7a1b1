#pragma once

#include "tasks/model/KLVURLTask.h"

namespace tasks {

inline constexpr const char* kKLVPrivilegedLaunchAgentRemoverTaskIdentifier =
    "kKLVPrivilegedLaunchAgentRemoverTaskIdentifier";

// Unloads a launchd job, removes its helper tool and deletes its property list. Archived "url"
// and "externalUtilityExecutionTimeout"; a zero timeout does not decode. launchctl always gets
// half a second, whatever the timeout says (see KLVLaunchdService).
class KLVPrivilegedAccessLaunchAgentRemoverTask final : public KLVURLTask {
public:
  KLVPrivilegedAccessLaunchAgentRemoverTask(platform::URL url,
                                            double externalUtilityExecutionTimeout)
      : KLVURLTask(std::move(url)), timeout_(externalUtilityExecutionTimeout) {}
  KLVPrivilegedAccessLaunchAgentRemoverTask(platform::UUID uuid, platform::URL url,
                                            double externalUtilityExecutionTimeout)
      : KLVURLTask(uuid, std::move(url)), timeout_(externalUtilityExecutionTimeout) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  double externalUtilityExecutionTimeout() const { return timeout_; }

  std::string identifier() const override { return kKLVPrivilegedLaunchAgentRemoverTaskIdentifier; }
  ResultPtr perform() override;
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;

private:
  double timeout_;
};

} // namespace tasks
