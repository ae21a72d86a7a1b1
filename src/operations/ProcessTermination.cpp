#include "operations/ProcessTermination.h"

#include "platform/dispatch/DispatchQueue.h"

#include <cstdlib>

namespace operations {

void scheduleTermination() {
  platform::dispatch::DispatchQueue::main().async([] { std::exit(0); });
}

} // namespace operations
