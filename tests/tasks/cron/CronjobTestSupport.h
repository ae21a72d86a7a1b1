#pragma once

#include "ArchiveTestSupport.h"
#include "tasks/cron/KLVCronjobService.h"
#include "tasks/processes/KLVTaskRunnerService.h"

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cronjob_test {

// Stands in for the crontab tool: records every run and answers with a set outcome.
class FakeTaskRunner : public tasks::KLVTaskRunnerService {
public:
  std::optional<tasks::KLVTaskRunnerOutput>
  executeTaskWithInput(const tasks::KLVTaskRunnerInput& input, platform::NSError* error) override {
    inputs.push_back(input);
    if (!output) {
      platform::setError(error, platform::NSError(tasks::kKLVTaskRunnerServiceErrorDomain,
                                                  tasks::kKLVTaskRunnerServiceTimedOut));
    }
    return output;
  }

  std::vector<tasks::KLVTaskRunnerInput> inputs;
  std::optional<tasks::KLVTaskRunnerOutput> output = tasks::KLVTaskRunnerOutput(0, "", "");
};

// A tabs folder of the test's own with a service over it.
class CronjobFixture {
public:
  CronjobFixture()
      : runner(std::make_shared<FakeTaskRunner>()),
        service(std::make_shared<tasks::KLVFileDataAccessService>(), runner, 7.5, tabs.path()) {}

  std::string crontab(const std::string& user) const { return tabs.path() + "/" + user; }
  void write(const std::string& user, const std::string& text) const {
    std::ofstream(crontab(user), std::ios::binary) << text;
  }
  std::string read(const std::string& user) const {
    std::ifstream file(crontab(user), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  archive_test::TemporaryDirectory tabs;
  std::shared_ptr<FakeTaskRunner> runner;
  tasks::KLVCronjobService service;
};

} // namespace cronjob_test
