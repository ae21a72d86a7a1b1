#include "tasks/KLVCommandToolError.h"

#include <memory>

namespace tasks {

platform::NSError commandToolError(const std::string& domain, int64_t code,
                                   const std::optional<KLVTaskRunnerOutput>& output,
                                   const std::optional<platform::NSError>& runnerError) {
  platform::UserInfo userInfo;
  if (runnerError) {
    userInfo[platform::NSUnderlyingErrorKey] =
        std::make_shared<const platform::NSError>(*runnerError);
  }
  if (output) {
    userInfo[kKLVCommandToolStatusKey] = static_cast<int64_t>(output->status());
    if (auto text = output->valueText()) {
      userInfo[kKLVCommandToolValueTextKey] = std::move(*text);
    }
    if (auto text = output->errorText()) {
      userInfo[kKLVCommandToolErrorTextKey] = std::move(*text);
    }
  }
  return platform::NSError(domain, code, std::move(userInfo));
}

} // namespace tasks
