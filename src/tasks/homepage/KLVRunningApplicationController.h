#pragma once

#include "platform/foundation/Workspace.h"

#include <chrono>
#include <memory>
#include <string>

namespace tasks {

// Ends every running instance of one application and waits, at most `waitingTime`, until the
// workspace reports each of them terminated.
class KLVRunningApplicationController {
public:
  KLVRunningApplicationController(std::string bundleIdentifier, double waitingTime,
                                  std::shared_ptr<platform::Workspace> workspace);

  // Whether every instance ended in time; nothing running counts as done.
  bool terminateForcefully();

private:
  std::string bundleIdentifier_;
  std::chrono::duration<double> waitingTime_;
  std::shared_ptr<platform::Workspace> workspace_;
};

} // namespace tasks
