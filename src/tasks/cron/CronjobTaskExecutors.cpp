#include "tasks/cron/CronjobTaskExecutors.h"

#include "platform/archive/Collections.h"
#include "utilities/Log.h"

#include <memory>
#include <optional>

namespace tasks {
namespace {

// A service over the system's tabs folder, made fresh for one task.
KLVCronjobService makeCronjobService(double externalUtilityExecutionTimeout) {
  return KLVCronjobService(std::make_shared<KLVFileDataAccessService>(),
                           std::make_shared<KLVTaskRunnerService>(),
                           externalUtilityExecutionTimeout);
}

std::optional<platform::NSError> errorIfSet(platform::NSError error) {
  if (error.domain().empty()) {
    return std::nullopt;
  }
  return error;
}

template <class Task> ResultPtr performWithSystemService(Task& task) {
  return performWithService(task, makeCronjobService(task.externalUtilityExecutionTimeout()));
}

} // namespace

ResultPtr performWithService(const KLVPrivilegedAccessCronjobFetcherTask&,
                             const KLVCronjobService& service) {
  platform::NSError error;
  auto jobs = service.fetchJobsWithError(&error);
  auto fetchError = errorIfSet(std::move(error));
  if (!jobs && !fetchError) {
    return KLVResultObject::emptyResult();
  }
  platform::archive::ObjectPtr value;
  if (jobs) {
    value = platform::archive::NSArray::make({jobs->begin(), jobs->end()});
  }
  return KLVResultObject::resultWithValue(std::move(value), std::move(fetchError));
}

ResultPtr performWithService(const KLVPrivilegedAccessCronjobRemoverTask& task,
                             const KLVCronjobService& service) {
  const std::string& cronjobSource = task.cronjobSource();
  const std::string& userName = task.userName();
  platform::NSError error;
  auto jobs = service.fetchJobsForUser(userName, &error);
  if (!jobs && error.domain().empty()) {
    // No jobs at all: either there is no crontab, or nothing in it is a job. The removal
    // reports which.
    const bool removed = service.removeMatchedCronjobWithSource(cronjobSource, userName, &error);
    return KLVResultObject::resultWithStatus(removed, errorIfSet(std::move(error)));
  }
  if (!jobs) {
    return KLVResultObject::resultWithStatus(false, errorIfSet(std::move(error)));
  }

  bool removed = false;
  if (jobs->size() == 1) {
    // Clearing the crontab is right only when its one job is the named one: the crontab may
    // have changed since the client listed it.
    const std::string& onlySource = jobs->front()->cronjobRecord().source();
    if (onlySource != KLVCronjobUtilityOutputParser::trimmedLine(cronjobSource)) {
      utilities::log("The only cron job of %@ is not the one to remove", {userName});
      return KLVResultObject::resultWithStatus(
          false, service.mendError(kKLVCronjobServiceOnlyJobMismatchError, userName));
    }
    removed = service.removeJobsForUser(userName, &error);
  } else {
    removed = service.removeMatchedCronjobWithSource(cronjobSource, userName, &error);
  }
  return KLVResultObject::resultWithStatus(removed, errorIfSet(std::move(error)));
}

void registerCronjobTaskExecutors(TaskExecutors& executors) {
  executors.setExecutor<KLVPrivilegedAccessCronjobFetcherTask,
                        performWithSystemService<KLVPrivilegedAccessCronjobFetcherTask>>();
  executors.setExecutor<KLVPrivilegedAccessCronjobRemoverTask,
                        performWithSystemService<KLVPrivilegedAccessCronjobRemoverTask>>();
}

} // namespace tasks
