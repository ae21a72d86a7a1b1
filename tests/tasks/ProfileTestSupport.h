#pragma once

#include "tasks/processes/KLVTaskRunnerService.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace profile_test {

// One tool run as the fake runner saw it: the tool and its arguments.
struct ToolRun {
  std::string path;
  std::vector<std::string> arguments;
  std::vector<std::string> argv() const {
    std::vector<std::string> all{path};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
  }
};

// Stands in for the system tools: records every run and answers through `respond`, which
// by default lets every tool exit with 0 and print nothing.
class FakeTaskRunner : public tasks::KLVTaskRunnerService {
public:
  using Responder =
      std::function<std::optional<tasks::KLVTaskRunnerOutput>(const ToolRun&, platform::NSError*)>;

  std::optional<tasks::KLVTaskRunnerOutput>
  executeTaskWithInput(const tasks::KLVTaskRunnerInput& input, platform::NSError* error) override {
    runs.push_back(ToolRun{input.executablePath, input.arguments});
    timeouts.push_back(input.timeoutInterval());
    return respond(runs.back(), error);
  }

  std::vector<std::vector<std::string>> argvs() const {
    std::vector<std::vector<std::string>> all;
    for (const auto& run : runs) {
      all.push_back(run.argv());
    }
    return all;
  }

  Responder respond = [](const ToolRun&, platform::NSError*) {
    return tasks::KLVTaskRunnerOutput(0, "", "");
  };
  std::vector<ToolRun> runs;
  std::vector<double> timeouts;
};

inline tasks::KLVTaskRunnerOutput exited(int status, std::string out = "", std::string err = "") {
  return tasks::KLVTaskRunnerOutput(status, std::move(out), std::move(err));
}

} // namespace profile_test
