// The agent's entry point: builds the server from the embedded configuration, registers every
// operation, starts listening and hands the main thread to the main queue. The process ends
// only through exit: status 1 when start-up fails (listening included), status 0 when a request
// asks for it.

#include "agent/AgentApplication.h"
#include "agent/FrameworkLog.h"
#include "agent/OperationHandlers.h"
#include "platform/dispatch/DispatchMain.h"
#include "platform/log/OSLog.h"

#include <cstdlib>
#include <exception>
#include <malloc.h>
#include <memory>

int main() {
  // Two heaps for all threads instead of one per thread: a burst of connections that grows the
  // worker pool leaves far less memory behind once its threads retire.
  mallopt(M_ARENA_MAX, 2);
  // Buffers of a megabyte or more (the encodings of a large reply) are mapped on their own and
  // unmapped when freed, whatever their size: the allocator's moving threshold would otherwise
  // keep such a buffer of a past reply in a heap after the reply has gone.
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  const platform::OSLog log("PrivilegedAgent", "Agent");
  log.info("Staring agent...");
  agent::installFrameworkLogHandler();

  // Never released: the application lives as long as the process.
  std::unique_ptr<agent::AgentApplication> application;
  try {
    application = std::make_unique<agent::AgentApplication>();
  } catch (...) {
    log.fault("Failed to launch agent:\n" +
              agent::AgentApplication::launchFailureDescription(std::current_exception()));
    std::exit(1);
  }

  // Every handler exists before the listener accepts its first connection.
  agent::registerOperationHandlers(application->serverEngine());
  try {
    application->serverEngine().start();
  } catch (...) {
    // Without a socket no client can ever reach the agent: a failed launch, so that the
    // service manager sees it and may try again.
    log.fault("Failed to launch agent:\n" +
              agent::AgentApplication::launchFailureDescription(std::current_exception()));
    std::exit(1);
  }
  log.info("Agent started, awaiting commands...");
  platform::dispatch::dispatchMain();
}
