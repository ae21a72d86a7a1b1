#include "tasks/cron/KLVCronjobService.h"

#include "tasks/model/PrivilegedAccessErrors.h"
#include "tasks/processes/KLVCommandToolError.h"
#include "utilities/Log.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace tasks {

using platform::NSError;

namespace {

constexpr std::string_view kRootUserName = "root";
// The platform's code for text that is not in the expected encoding.
constexpr int64_t kInapplicableStringEncodingErrorCode = 261;

NSError fileAccessError(const NSError& cause, const std::optional<std::string>& path) {
  platform::UserInfo userInfo{
      {platform::NSUnderlyingErrorKey, std::make_shared<const NSError>(cause)}};
  if (path) {
    userInfo[platform::NSFilePathErrorKey] = *path;
  }
  return NSError(kKLVCronjobServiceErrorDomain, kKLVCronjobServiceFileAccessError,
                 std::move(userInfo));
}

std::optional<platform::Date> modificationDate(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return platform::Date::fromTimeIntervalSince1970(static_cast<double>(info.st_mtim.tv_sec) +
                                                   static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
}

std::string_view lastPathComponent(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool hasError(const NSError& error) {
  return !error.domain().empty();
}

} // namespace

KLVCronjobService::KLVCronjobService(std::shared_ptr<KLVFileDataAccessService> fileDataService,
                                     std::shared_ptr<KLVTaskRunnerService> taskRunnerService,
                                     double externalUtilityExecutionTimeout,
                                     std::string cronjobRecordsDirectoryPath)
    : fileDataService_(std::move(fileDataService)),
      taskRunnerService_(std::move(taskRunnerService)),
      externalUtilityExecutionTimeout_(externalUtilityExecutionTimeout),
      cronjobRecordsDirectoryPath_(std::move(cronjobRecordsDirectoryPath)) {}

bool KLVCronjobService::isValidUserName(std::string_view userName) {
  return !userName.empty() && userName != "." && userName != ".." &&
         userName.find('/') == std::string_view::npos &&
         userName.find('\0') == std::string_view::npos;
}

std::optional<std::string>
KLVCronjobService::crontabPathForUser(const std::optional<std::string>& userName,
                                      NSError* error) const {
  const std::string name = userName.value_or(std::string(kRootUserName));
  if (!isValidUserName(name)) {
    utilities::log("Refusing the cron job user name %@", {name});
    platform::setError(error, fileAccessError(NSError::posix(EINVAL), std::nullopt));
    return std::nullopt;
  }
  return cronjobRecordsDirectoryPath_ + "/" + name;
}

std::optional<KLVCronjobList> KLVCronjobService::fetchJobsWithError(NSError* error) const {
  std::error_code listingError;
  std::vector<std::string> names;
  for (std::filesystem::directory_iterator entry(cronjobRecordsDirectoryPath_, listingError), end;
       !listingError && entry != end; entry.increment(listingError)) {
    names.push_back(entry->path().filename().string());
  }
  if (listingError) {
    platform::setError(
        error, fileAccessError(NSError::posix(listingError.value()), cronjobRecordsDirectoryPath_));
    return std::nullopt;
  }
  if (names.empty()) {
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());

  KLVCronjobList jobs;
  std::vector<NSError> errors;
  for (const std::string& name : names) {
    NSError fileError;
    auto fileJobs =
        klv_fetchJobsWithFilePath(cronjobRecordsDirectoryPath_ + "/" + name, &fileError);
    if (fileJobs) {
      jobs.insert(jobs.end(), fileJobs->begin(), fileJobs->end());
    } else if (hasError(fileError)) {
      errors.push_back(std::move(fileError));
    }
  }
  if (!errors.empty()) {
    platform::setError(error, NSError(kKLVCronjobServiceErrorDomain, kKLVCronjobServiceFetchError,
                                      {{kKLVEmbeddedErrorsKey, std::move(errors)}}));
  }
  return jobs;
}

std::optional<KLVCronjobList>
KLVCronjobService::fetchJobsForUser(const std::optional<std::string>& userName,
                                    NSError* error) const {
  auto path = crontabPathForUser(userName, error);
  if (!path) {
    return std::nullopt;
  }
  struct stat info;
  if (::lstat(path->c_str(), &info) != 0 && errno == ENOENT) {
    return std::nullopt;
  }
  return klv_fetchJobsWithFilePath(*path, error);
}

std::optional<KLVCronjobList> KLVCronjobService::klv_fetchJobsWithFilePath(const std::string& path,
                                                                           NSError* error) const {
  NSError readError;
  auto bytes = fileDataService_->readDataWithURL(platform::URL::fileURLWithPath(path),
                                                 kKLVMaxCronjobFileLength, &readError);
  if (!bytes) {
    platform::setError(error, fileAccessError(readError, path));
    return std::nullopt;
  }
  // An empty crontab is a user without jobs, not a file that could not be read.
  if (bytes->empty()) {
    return std::nullopt;
  }
  std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  // A crontab cut at the limit ends in a partial line (perhaps inside a character): drop it, as
  // cron itself ignores a last line without a line break.
  if (bytes->size() == kKLVMaxCronjobFileLength) {
    const size_t lastBreak = text.rfind('\n');
    text = lastBreak == std::string_view::npos ? std::string_view() : text.substr(0, lastBreak + 1);
  }
  if (!platform::isValidUTF8(text)) {
    platform::setError(error, fileAccessError(NSError(platform::NSCocoaErrorDomain,
                                                      kInapplicableStringEncodingErrorCode,
                                                      {{platform::NSFilePathErrorKey, path}}),
                                              path));
    return std::nullopt;
  }

  const std::string userName(lastPathComponent(path));
  const auto date = modificationDate(path);
  KLVCronjobList jobs;
  for (auto& record : outputParser_.parseCronjobRecordsFromOutput(text)) {
    jobs.push_back(std::make_shared<KLVCronjob>(userName, std::move(record), date));
  }
  if (jobs.empty()) {
    return std::nullopt;
  }
  return jobs;
}

bool KLVCronjobService::removeJobsForUser(const std::optional<std::string>& userName,
                                          NSError* error) const {
  std::vector<std::string> arguments;
  if (userName && *userName != kRootUserName) {
    if (!isValidUserName(*userName)) {
      utilities::log("Refusing the cron job user name %@", {*userName});
      platform::setError(error, fileAccessError(NSError::posix(EINVAL), std::nullopt));
      return false;
    }
    arguments = {"-u", *userName};
  }
  arguments.push_back("-r");

  NSError runnerError;
  auto output = taskRunnerService_->executeTaskWithExecutablePath(
      kKLVCrontabToolPath, arguments, externalUtilityExecutionTimeout_, &runnerError);
  if (output && output->isExitStatusSuccess()) {
    return true;
  }
  utilities::log("Clearing the crontab failed, arguments: %@",
                 {utilities::describeList(arguments)});
  platform::setError(
      error, commandToolError(kKLVCronjobServiceErrorDomain, kKLVCronjobServiceCommandToolError,
                              output, output ? std::nullopt : std::optional<NSError>(runnerError)));
  return false;
}

bool KLVCronjobService::removeMatchedCronjobWithSource(const std::string& source,
                                                       const std::optional<std::string>& userName,
                                                       NSError* error) const {
  auto path = crontabPathForUser(userName, error);
  if (!path) {
    return false;
  }
  struct stat info;
  if (::lstat(path->c_str(), &info) != 0 && errno == ENOENT) {
    platform::setError(error, mendError(kKLVCronjobServiceNoCrontabError, userName));
    return false;
  }

  bool undecodable = false;
  bool partial = false;
  NSError fileError;
  const bool replaced = fileDataService_->replaceDataWithURL(
      platform::URL::fileURLWithPath(*path), kKLVMaxCronjobFileLength, &fileError,
      [&](const platform::Bytes& contents, bool& stop) -> std::optional<platform::Bytes> {
        const std::string_view text(reinterpret_cast<const char*>(contents.data()),
                                    contents.size());
        if (!platform::isValidUTF8(text)) {
          undecodable = true;
          stop = true;
          return std::nullopt;
        }
        auto remaining = removingCronjobSource(text, source);
        if (!remaining) {
          const std::string_view wanted = KLVCronjobUtilityOutputParser::trimmedLine(source);
          partial = !wanted.empty() && text.find(wanted) != std::string_view::npos;
          stop = true;
          return std::nullopt;
        }
        return platform::Bytes(remaining->begin(), remaining->end());
      });
  if (replaced) {
    return true;
  }
  if (undecodable) {
    platform::setError(error, NSError(kKLVCronjobServiceErrorDomain,
                                      kKLVCronjobServiceInvalidEncodingError,
                                      {{platform::NSFilePathErrorKey, *path}}));
  } else if (hasError(fileError)) {
    platform::setError(error, fileAccessError(fileError, *path));
  } else {
    platform::setError(error, mendError(partial ? kKLVCronjobServicePartialMatchError
                                                : kKLVCronjobServiceNoMatchingJobError,
                                        userName));
  }
  return false;
}

NSError KLVCronjobService::mendError(KLVCronjobServiceErrorCode code,
                                     const std::optional<std::string>& userName) const {
  const std::string path =
      cronjobRecordsDirectoryPath_ + "/" + userName.value_or(std::string(kRootUserName));
  return NSError(kKLVCronjobServiceErrorDomain, code, {{platform::NSFilePathErrorKey, path}});
}

bool KLVCronjobService::removeMatchedJob(const KLVCronjob& job, NSError* error) const {
  return removeMatchedCronjobWithSource(job.cronjobRecord().source(), job.userName(), error);
}

bool KLVCronjobService::existsCronjobWithRecord(const KLVCronjobRecord& record,
                                                NSError* error) const {
  auto jobs = fetchJobsWithError(error);
  if (!jobs) {
    return false;
  }
  return std::any_of(jobs->begin(), jobs->end(), [&](const auto& job) {
    return job->cronjobRecord().source() == record.source();
  });
}

std::optional<std::string> KLVCronjobService::removingCronjobSource(std::string_view text,
                                                                    std::string_view source) {
  const std::string_view wanted = KLVCronjobUtilityOutputParser::trimmedLine(source);
  // A blank source would match every blank line; no job has one.
  if (wanted.empty()) {
    return std::nullopt;
  }
  std::string kept;
  kept.reserve(text.size());
  bool removed = false;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t lineBreak = text.find('\n', start);
    const size_t end = lineBreak == std::string_view::npos ? text.size() : lineBreak + 1;
    const std::string_view line = text.substr(start, end - start);
    if (KLVCronjobUtilityOutputParser::trimmedLine(line) == wanted) {
      removed = true;
    } else {
      kept.append(line);
    }
    if (lineBreak == std::string_view::npos) {
      break;
    }
    start = end;
  }
  if (!removed) {
    return std::nullopt;
  }

  std::string collapsed;
  collapsed.reserve(kept.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    collapsed += kept[i];
    if (kept[i] == '\n' && i + 1 < kept.size() && kept[i + 1] == '\n') {
      ++i;
    }
  }
  return collapsed;
}

} // namespace tasks
