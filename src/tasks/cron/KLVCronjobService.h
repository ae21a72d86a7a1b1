#pragma once

#include "platform/foundation/NSError.h"
#include "tasks/cron/KLVCronjobUtilityOutputParser.h"
#include "tasks/files/KLVFileDataAccessService.h"
#include "tasks/model/KLVCronjob.h"
#include "tasks/processes/KLVTaskRunnerService.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tasks {

inline constexpr const char* kKLVCronjobServiceErrorDomain = "kKLVCronjobServiceErrorDomain";
enum KLVCronjobServiceErrorCode : int64_t {
  // The tabs folder could not be listed, or a crontab could not be read or rewritten.
  kKLVCronjobServiceFileAccessError = 101,
  // Some crontabs could not be read while fetching every job; the errors are embedded.
  kKLVCronjobServiceFetchError = 102,
  // A crontab was not UTF-8 text when a job was to be removed from it.
  kKLVCronjobServiceInvalidEncodingError = 103,
  // The crontab tool failed to clear a crontab.
  kKLVCronjobServiceCommandToolError = 104,
  // A job was to be removed, but the user has no crontab.
  kKLVCronjobServiceNoCrontabError = 105,
  // A job was to be removed, but no line of the user's crontab is that job.
  kKLVCronjobServiceNoMatchingJobError = 106,
  // A job was to be removed, but it is only a part of a line of the crontab; the line stays.
  kKLVCronjobServicePartialMatchError = 107,
  // A job was to be removed from a crontab of one job, and that job is another one.
  kKLVCronjobServiceOnlyJobMismatchError = 108,
};

inline constexpr const char* kKLVCronjobRecordsDirectoryPath = "/usr/lib/cron/tabs";
inline constexpr const char* kKLVCrontabToolPath = "/usr/bin/crontab";
// No crontab is read past this many bytes.
inline constexpr size_t kKLVMaxCronjobFileLength = 5 * 1024 * 1024;

using KLVCronjobList = std::vector<std::shared_ptr<KLVCronjob>>;

// Reads the users' crontabs (one file per user, named after the user, in the tabs folder),
// removes single jobs from them in place, and clears a whole crontab with the crontab tool.
// A user name becomes a file name here, so every entry point checks it first.
class KLVCronjobService {
public:
  KLVCronjobService(std::shared_ptr<KLVFileDataAccessService> fileDataService,
                    std::shared_ptr<KLVTaskRunnerService> taskRunnerService,
                    double externalUtilityExecutionTimeout,
                    std::string cronjobRecordsDirectoryPath = kKLVCronjobRecordsDirectoryPath);

  // Every job of every crontab. None without an error when the folder is empty; with code
  // 101 when it cannot be listed. Crontabs that cannot be read are reported together under
  // code 102 while the jobs of the others are still returned.
  std::optional<KLVCronjobList> fetchJobsWithError(platform::NSError* error) const;
  // The jobs of one user (none: "root"). None without an error when the user has no crontab
  // or no job in it.
  std::optional<KLVCronjobList> fetchJobsForUser(const std::optional<std::string>& userName,
                                                 platform::NSError* error) const;
  // The jobs of the crontab at `path`, owned by the user the file is named after.
  std::optional<KLVCronjobList> klv_fetchJobsWithFilePath(const std::string& path,
                                                          platform::NSError* error) const;

  // Clears the user's whole crontab with the crontab tool (code 104 when it fails).
  bool removeJobsForUser(const std::optional<std::string>& userName,
                         platform::NSError* error) const;
  // Removes the lines equal to `source` from the user's crontab. False with code 105 when the
  // user has no crontab, 106 when no line matches and 107 when the source is only a part of a
  // line (the file is then left untouched).
  bool removeMatchedCronjobWithSource(const std::string& source,
                                      const std::optional<std::string>& userName,
                                      platform::NSError* error) const;
  bool removeMatchedJob(const KLVCronjob& job, platform::NSError* error) const;
  // Whether some job of some user has the record's source.
  bool existsCronjobWithRecord(const KLVCronjobRecord& record, platform::NSError* error) const;

  // `text` without the lines that equal `source` once both are trimmed, then with each pair
  // of consecutive line breaks made one. None when no line matches.
  static std::optional<std::string> removingCronjobSource(std::string_view text,
                                                          std::string_view source);
  // An error of `code` in the cron service's domain that names the user's crontab.
  platform::NSError mendError(KLVCronjobServiceErrorCode code,
                              const std::optional<std::string>& userName) const;
  // Whether `userName` can name a file in the tabs folder: not empty, not "." or "..", and
  // without "/" or NUL.
  static bool isValidUserName(std::string_view userName);

  const std::string& cronjobRecordsDirectoryPath() const { return cronjobRecordsDirectoryPath_; }
  size_t maxCronjobFileLength() const { return kKLVMaxCronjobFileLength; }
  double externalUtilityExecutionTimeout() const { return externalUtilityExecutionTimeout_; }
  const KLVCronjobUtilityOutputParser& outputParser() const { return outputParser_; }

private:
  // The crontab path of `userName` (none: "root"); none with code 101 for an invalid name.
  std::optional<std::string> crontabPathForUser(const std::optional<std::string>& userName,
                                                platform::NSError* error) const;

  KLVCronjobUtilityOutputParser outputParser_;
  std::shared_ptr<KLVFileDataAccessService> fileDataService_;
  std::shared_ptr<KLVTaskRunnerService> taskRunnerService_;
  double externalUtilityExecutionTimeout_;
  std::string cronjobRecordsDirectoryPath_;
};

} // namespace tasks
