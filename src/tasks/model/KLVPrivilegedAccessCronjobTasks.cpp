#include "tasks/model/KLVPrivilegedAccessCronjobTasks.h"

#include "platform/archive/Collections.h"
#include "utilities/Log.h"

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

} // namespace

const platform::archive::ObjectClass& KLVPrivilegedAccessCronjobFetcherTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessCronjobFetcherTask", &KLVPrivilegedAccessTask::classObject(), true,
      decodeTimeoutTask<KLVPrivilegedAccessCronjobFetcherTask>);
  return objectClass;
}

ResultPtr KLVPrivilegedAccessCronjobFetcherTask::perform() {
  return performWithService(makeCronjobService(externalUtilityExecutionTimeout()));
}

ResultPtr
KLVPrivilegedAccessCronjobFetcherTask::performWithService(const KLVCronjobService& service) const {
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

const platform::archive::ObjectClass& KLVPrivilegedAccessCronjobRemoverTask::classObject() {
  static const platform::archive::ObjectClass objectClass(
      "KLVPrivilegedAccessCronjobRemoverTask", &KLVPrivilegedAccessTask::classObject(), true,
      [](platform::archive::KeyedUnarchiver& coder) -> platform::archive::ObjectPtr {
        auto source = coder.decodeStringForKey("cronjobSource");
        auto userName = coder.decodeStringForKey("userName");
        auto timeout = decodeTimeout(coder);
        if (!source || !userName || !timeout) {
          return nullptr;
        }
        auto uuid = decodeUUID(coder);
        if (!uuid || coder.error()) {
          return nullptr;
        }
        return std::make_shared<KLVPrivilegedAccessCronjobRemoverTask>(
            *uuid, std::move(*source), std::move(*userName), *timeout);
      });
  return objectClass;
}

ResultPtr KLVPrivilegedAccessCronjobRemoverTask::perform() {
  return performWithService(makeCronjobService(externalUtilityExecutionTimeout()));
}

ResultPtr
KLVPrivilegedAccessCronjobRemoverTask::performWithService(const KLVCronjobService& service) const {
  platform::NSError error;
  auto jobs = service.fetchJobsForUser(userName_, &error);
  if (!jobs && error.domain().empty()) {
    // No jobs at all: either there is no crontab, or nothing in it is a job. The removal
    // reports which.
    const bool removed = service.removeMatchedCronjobWithSource(cronjobSource_, userName_, &error);
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
    if (onlySource != KLVCronjobUtilityOutputParser::trimmedLine(cronjobSource_)) {
      utilities::log("The only cron job of %@ is not the one to remove", {userName_});
      return KLVResultObject::resultWithStatus(
          false, service.mendError(kKLVCronjobServiceOnlyJobMismatchError, userName_));
    }
    removed = service.removeJobsForUser(userName_, &error);
  } else {
    removed = service.removeMatchedCronjobWithSource(cronjobSource_, userName_, &error);
  }
  return KLVResultObject::resultWithStatus(removed, errorIfSet(std::move(error)));
}

void KLVPrivilegedAccessCronjobRemoverTask::encodeWithCoder(
    platform::archive::KeyedArchiver& coder) const {
  KLVTimeoutTask::encodeWithCoder(coder);
  coder.encodeString(cronjobSource_, "cronjobSource");
  coder.encodeString(userName_, "userName");
}

bool KLVPrivilegedAccessCronjobRemoverTask::isEqual(const platform::archive::Object& other) const {
  if (!KLVTimeoutTask::isEqual(other)) {
    return false;
  }
  const auto& task = static_cast<const KLVPrivilegedAccessCronjobRemoverTask&>(other);
  return task.cronjobSource_ == cronjobSource_ && task.userName_ == userName_;
}

size_t KLVPrivilegedAccessCronjobRemoverTask::hash() const {
  const std::hash<std::string> stringHash;
  return KLVTimeoutTask::hash() ^ stringHash(cronjobSource_) ^ stringHash(userName_);
}

} // namespace tasks
