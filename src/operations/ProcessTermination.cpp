#include "operations/ProcessTermination.h"

#include "platform/dispatch/DispatchQueue.h"

#include <cstdlib>

namespace operations {

void scheduleTermination() {
  // The reply of the request that asked for termination is written on the request's own thread
  // right after the handler returns. Exiting at once would often end the process before that
  // write, and the client would see the connection drop instead of its answer; a short grace
  // period lets the reply go out first.
  platform::dispatch::DispatchQueue::main().asyncAfter(kTerminationGracePeriod,
                                                       [] { std::exit(0); });
}

} // namespace operations
