#pragma once

#include "ipc/server/XPCServerEngine.h"

#include <exception>
#include <memory>
#include <string>

namespace agent {

// The agent's root object: the server engine, configured from the property lists embedded in
// the executable. Made once at start-up and kept for the life of the process.
class AgentApplication {
public:
  // Reads the service name, checks the install location, reads the client requirements, looks
  // up the clients' group and builds the (not yet started) engine, in that order; throws the first
  // error met, and then no engine exists.
  AgentApplication();

  ipc::XPCServerEngine& serverEngine() const { return *serverEngine_; }

  // The text the start-up failure log shows for an error of the initialiser: a
  // misconfiguration's own message, an error value's platform description, or the what() text.
  static std::string launchFailureDescription(const std::exception_ptr& error);

private:
  std::shared_ptr<ipc::XPCServerEngine> serverEngine_;
};

} // namespace agent
