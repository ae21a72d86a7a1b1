#pragma once

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"

#include <optional>

namespace tasks {

// The shared part of the tasks that run external tools: the time limit that each tool gets,
// archived as "externalUtilityExecutionTimeout" (seconds). Equality stays the base's.
class KLVTimeoutTask : public KLVPrivilegedAccessTask {
public:
  explicit KLVTimeoutTask(double externalUtilityExecutionTimeout)
      : timeout_(externalUtilityExecutionTimeout) {}
  KLVTimeoutTask(platform::UUID uuid, double externalUtilityExecutionTimeout)
      : KLVPrivilegedAccessTask(uuid), timeout_(externalUtilityExecutionTimeout) {}

  double externalUtilityExecutionTimeout() const { return timeout_; }

  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override {
    KLVPrivilegedAccessTask::encodeWithCoder(coder);
    coder.encodeDouble(timeout_, "externalUtilityExecutionTimeout");
  }

protected:
  // The archived timeout; none when it is missing or zero (not a valid task).
  static std::optional<double> decodeTimeout(platform::archive::KeyedUnarchiver& coder) {
    const double timeout = coder.decodeDoubleForKey("externalUtilityExecutionTimeout");
    if (timeout == 0.0) {
      return std::nullopt;
    }
    return timeout;
  }
  // Decodes a task whose only own field is the timeout.
  template <class T>
  static platform::archive::ObjectPtr decodeTimeoutTask(platform::archive::KeyedUnarchiver& coder) {
    auto timeout = decodeTimeout(coder);
    if (!timeout) {
      return nullptr;
    }
    auto uuid = decodeUUID(coder);
    if (!uuid || coder.error()) {
      return nullptr;
    }
    return std::make_shared<T>(*uuid, *timeout);
  }

private:
  double timeout_;
};

} // namespace tasks
