#include "tasks/processes/KLVCommandToolError.h"

#include <memory>
#include <string>

namespace tasks {
namespace {

bool isContinuationByte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// `text` (valid UTF-8) cut to its first and last kMaxToolTextInError / 2 bytes, each cut on a
// character boundary, around a note of the bytes left out.
std::string capped(std::string text) {
  if (text.size() <= kMaxToolTextInError) {
    return text;
  }
  size_t headEnd = kMaxToolTextInError / 2;
  while (headEnd > 0 && isContinuationByte(text[headEnd])) {
    --headEnd;
  }
  size_t tailStart = text.size() - kMaxToolTextInError / 2;
  while (tailStart < text.size() && isContinuationByte(text[tailStart])) {
    ++tailStart;
  }
  return text.substr(0, headEnd) + "\n[" + std::to_string(tailStart - headEnd) +
         " bytes left out]\n" + text.substr(tailStart);
}

} // namespace

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
      userInfo[kKLVCommandToolValueTextKey] = capped(std::move(*text));
    }
    if (auto text = output->errorText()) {
      userInfo[kKLVCommandToolErrorTextKey] = capped(std::move(*text));
    }
  }
  return platform::NSError(domain, code, std::move(userInfo));
}

} // namespace tasks
