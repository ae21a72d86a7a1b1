#pragma once

namespace agentctl {

// The exit statuses of agentctl, distinct so that scripts can tell the failures apart.
enum ExitCode : int {
  kSucceeded = 0,
  kOperationFailed = 1,   // the agent answered with a "failure" result
  kUsage = 2,             // unknown command, type or option
  kBadJSON = 3,           // the JSON given on the command line is not valid for the request
  kConnectionRefused = 4, // no agent listens (no socket, or not owned by root)
  kUnauthorized = 5,      // the agent refused the handshake or a message with `unauthorized`
  kTimeout = 6,           // no answer in time
  kProtocolFailure = 7,   // the connection ended or the agent answered with another error
};

} // namespace agentctl
