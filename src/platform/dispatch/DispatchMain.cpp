#include "platform/dispatch/DispatchMain.h"

#include "platform/dispatch/QueueCore.h"

#include <cstdlib>

namespace platform::dispatch {

void dispatchMain() {
  for (;;) {
    // Only a test stops the loop; serving again keeps the promise never to return.
    detail::MainQueueCore::shared().run();
  }
}

void runMainLoopForTest() {
  detail::MainQueueCore::shared().run();
}

void stopMainLoopForTest() {
  detail::MainQueueCore::shared().stopForTest();
}

} // namespace platform::dispatch
