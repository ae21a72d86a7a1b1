#pragma once

#include "platform/foundation/Base64.h"
#include "platform/foundation/NSError.h"
#include "utilities/UniqueFd.h"

#include <span>
#include <vector>

namespace operations {

// Runs archived privileged access tasks: unarchives the task with secure coding (the root must
// be a task class), performs it as root on the calling thread and answers with the archived
// result. Stateless; one instance serves every request.
class PrivilegedAccessPrivilegedOperations {
public:
  // The archive decoded to no task and the unarchiver gave no reason.
  class CouldNotUnarchiveTaskError : public platform::BridgedError {
  public:
    platform::NSError toNSError() const override {
      return platform::NSError::bridged(
          "PrivilegedAgent.PrivilegedAccessPrivilegedOperations.CouldNotUnarchiveTaskError", 1);
    }
  };

  // The archived result and the descriptors of the file handles inside it, which travel beside
  // the archive (the result refers to them by index) and belong to the caller.
  struct TaskReply {
    platform::Bytes resultData;
    std::vector<utilities::UniqueFd> fileDescriptors;
  };

  // Registers the task classes and their executors (once per process).
  PrivilegedAccessPrivilegedOperations();

  // Throws the unarchiver's or the archiver's error, or CouldNotUnarchiveTaskError.
  TaskReply performTask(std::span<const uint8_t> taskData) const;
};

} // namespace operations
