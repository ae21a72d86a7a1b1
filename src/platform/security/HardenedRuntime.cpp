#include "platform/security/HardenedRuntime.h"

#include "platform/security/AuxiliaryVector.h"
#include "platform/security/MemoryMaps.h"
#include "platform/security/ProcessChecks.h"
#include "platform/security/ProcessStatus.h"
#include "platform/security/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef AGENT_CLIENTS_GROUP
#define AGENT_CLIENTS_GROUP "quillby-clients"
#endif

namespace platform::security {

const char* const kDefaultClientsGroupName = AGENT_CLIENTS_GROUP;

namespace {

constexpr size_t kMaxStatusSize = 64 * 1024;
constexpr size_t kMaxAuxiliaryVectorSize = 8 * 1024;
// Enough for the mappings of any sane client; a process with more is refused, not skimmed.
constexpr size_t kMaxMapsSize = 16 * 1024 * 1024;

SecStatus refused(pid_t pid, const std::string& reason) {
  return SecStatus(errSecCSGuestInvalid, "process " + std::to_string(pid) + " refused: " + reason);
}

// Turns a failed read into the right status: gone, or refused because it cannot be judged.
SecStatus readFailure(pid_t pid, ReadOutcome outcome, const char* what) {
  if (outcome == ReadOutcome::missing) {
    return SecStatus::processGone(pid);
  }
  return refused(
      pid, std::string("its ") + what +
               (outcome == ReadOutcome::tooLarge ? " is too large to inspect" : " cannot be read"));
}

SecStatus checkGroups(const RuntimeSubject& subject, const RuntimePolicy& policy,
                      int processDirectory) {
  const pid_t pid = subject.pid;
  const std::string group = std::to_string(policy.clientsGroup);
  if (!subject.connection) {
    return refused(pid, "it did not reach the agent through a connection");
  }
  if (subject.connection->gid != policy.clientsGroup) {
    return refused(pid, "its connection was opened with group " +
                            std::to_string(subject.connection->gid) + ", not the clients' group " +
                            group + " (a client opens its own connection, set-group-ID)");
  }
  std::string text;
  if (ReadOutcome outcome = readProcessFile(processDirectory, "status", kMaxStatusSize, text);
      outcome != ReadOutcome::ok) {
    return readFailure(pid, outcome, "status");
  }
  ProcessIds ids;
  std::string reason;
  if (!ProcessIds::parse(text, ids, reason)) {
    return refused(pid, reason);
  }
  if (ids.effectiveGroup() != policy.clientsGroup) {
    return refused(pid, "its effective group is " + std::to_string(ids.effectiveGroup()) +
                            ", not the clients' group " + group +
                            " (not installed set-group-ID, or traced when it started)");
  }
  if (ids.realGroup() == policy.clientsGroup || ids.hasSupplementaryGroup(policy.clientsGroup)) {
    return refused(pid, "its user belongs to the clients' group " + group +
                            ", which must have no members");
  }
  // A process that is not dumpable has its /proc entries owned by root.
  struct stat entry {};
  if (ids.uids[1] != 0) {
    if (::fstatat(processDirectory, "stat", &entry, 0) != 0) {
      return SecStatus::processGone(pid);
    }
    if (entry.st_uid != 0) {
      return refused(pid, "it is dumpable, so processes of its user may read and change it");
    }
  }
  return SecStatus::success();
}

SecStatus checkSecureExecution(const RuntimeSubject& subject, int processDirectory) {
  std::string bytes;
  if (ReadOutcome outcome =
          readProcessFile(processDirectory, "auxv", kMaxAuxiliaryVectorSize, bytes);
      outcome != ReadOutcome::ok) {
    return readFailure(subject.pid, outcome, "auxiliary vector");
  }
  AuxiliaryVector vector;
  std::string reason;
  if (!AuxiliaryVector::parse(bytes, subject.wordSize, vector, reason)) {
    return refused(subject.pid, "its auxiliary vector is malformed: " + reason);
  }
  if (vector.value(AT_SECURE).value_or(0) != 1) {
    return refused(subject.pid, "it does not run in secure-execution mode (AT_SECURE is not 1)");
  }
  return SecStatus::success();
}

SecStatus checkMappings(const RuntimeSubject& subject, int processDirectory) {
  std::string text;
  if (ReadOutcome outcome = readProcessFile(processDirectory, "maps", kMaxMapsSize, text);
      outcome != ReadOutcome::ok) {
    return readFailure(subject.pid, outcome, "memory map");
  }
  std::vector<MemoryMapping> mappings;
  std::string reason;
  if (!MemoryMaps::parse(text, mappings, reason)) {
    return refused(subject.pid, "its memory map is malformed: " + reason);
  }
  return validateExecutableMappings(subject.pid, processDirectory, mappings, subject.executable);
}

} // namespace

SecStatus RuntimePolicy::forGroupNamed(const std::string& name, RuntimePolicy& policy) {
  std::vector<char> buffer(16 * 1024);
  struct group entry {};
  struct group* found = nullptr;
  int error = 0;
  while ((error = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found)) ==
             ERANGE &&
         buffer.size() < (1u << 24)) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr) {
    return SecStatus(errSecCSReqInvalid,
                     "the clients' group \"" + name + "\" does not exist" +
                         (error != 0 ? std::string(": ") + std::strerror(error) : ""));
  }
  if (found->gr_gid == 0) {
    return SecStatus(errSecCSReqInvalid,
                     "the clients' group \"" + name + "\" is root's group, not a dedicated one");
  }
  policy.clientsGroup = found->gr_gid;
  return SecStatus::success();
}

SecStatus checkHardenedRuntime(const RuntimeSubject& subject, const RuntimePolicy& policy) {
  const pid_t pid = subject.pid;
  if (pid <= 0 || policy.clientsGroup == 0) {
    return refused(pid, "no process or no clients' group to judge it by");
  }
  UniqueFd directory(
      ::open(("/proc/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory.valid()) {
    return errno == ENOENT ? SecStatus::processGone(pid)
                           : refused(pid, "its /proc entry cannot be opened");
  }
  // The tracer and loader-variable filters first: they name the most common causes.
  SecStatus verdict = checkProcessHardening(pid);
  if (verdict) {
    verdict = checkGroups(subject, policy, directory.get());
  }
  if (verdict) {
    verdict = checkSecureExecution(subject, directory.get());
  }
  if (verdict) {
    verdict = checkMappings(subject, directory.get());
  }
  // Whatever was read belongs to the pidfd's process only while that process lives; a failure
  // of a process that has gone meanwhile is its being gone.
  if (subject.pidfd < 0 || !isPidfdAlive(subject.pidfd)) {
    return SecStatus::processGone(pid);
  }
  return verdict;
}

} // namespace platform::security
