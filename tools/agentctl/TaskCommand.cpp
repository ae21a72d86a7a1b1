#include "TaskCommand.h"

#include "AgentClient.h"
#include "Await.h"
#include "ExitCode.h"
#include "FailureReport.h"
#include "FileHandleTransfer.h"
#include "ResultPrinting.h"
#include "TaskBuilders.h"
#include "Usage.h"
#include "api/PrivilegedAccessTaskRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/ErrorDescription.h"
#include "ipc/ReplyAttachments.h"
#include "ipc/Result.h"
#include "platform/archive/FileHandle.h"
#include "platform/archive/KeyedArchiver.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <variant>

namespace agentctl {
namespace {

using namespace std::chrono_literals;
using Reply = ipc::Result<platform::Bytes, api::PrivilegedOperationError>;

// Guards against a stuck client only: the engine bounds the handshake and the reply itself.
constexpr auto kTaskLimit = 30s;

struct TaskOptions {
  std::string_view className;
  std::optional<std::string_view> fields;
  bool read = false;
  std::optional<std::string_view> write;
};

int usageError(const std::string& text) {
  std::cerr << "agentctl: " << text << "\n" << kTaskUsage.substr(0, kTaskUsage.find('\n') + 1);
  return kUsage;
}

// The options, or the exit code of a usage error.
std::variant<TaskOptions, int> parseOptions(const std::vector<std::string_view>& arguments) {
  TaskOptions options;
  std::vector<std::string_view> positional;
  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string_view argument = arguments[index];
    if (argument == "--read") {
      options.read = true;
    } else if (argument == "--write") {
      if (index + 1 >= arguments.size()) {
        return usageError("--write needs the TEXT to write");
      }
      options.write = arguments[++index];
    } else if (argument.starts_with("--")) {
      return usageError("unexpected option \"" + std::string(argument) + "\"");
    } else {
      positional.push_back(argument);
    }
  }
  if (options.read && options.write) {
    return usageError("--read and --write exclude each other");
  }
  if (positional.empty() || positional.size() > 2) {
    return usageError("expected CLASS and at most one JSON argument");
  }
  options.className = positional[0];
  if (positional.size() == 2) {
    options.fields = positional[1];
  }
  return options;
}

// The archived task, or the exit code of bad input.
std::variant<platform::Bytes, int> archiveTask(const TaskOptions& options) {
  platform::json::Value fields = platform::json::Value::object();
  if (options.fields) {
    try {
      fields = platform::json::parse(*options.fields);
    } catch (const std::exception& error) {
      std::cerr << "agentctl: the JSON argument is not valid JSON: " << ipc::errorDescription(error)
                << "\n";
      return kBadJSON;
    }
  }
  platform::archive::ObjectPtr task;
  try {
    task = buildTask(options.className, fields);
  } catch (const TaskFieldError& error) {
    std::cerr << "agentctl: " << error.what() << "\n";
    return kBadJSON;
  }
  platform::NSError error;
  auto archive = platform::archive::archivedDataWithRootObject(task, true, &error);
  if (!archive) {
    std::cerr << "agentctl: cannot archive the task: " << error.localizedDescription() << "\n";
    return kBadJSON;
  }
  return std::move(*archive);
}

// Reads or writes through the file handle of the result, as the options ask.
int useFileHandle(const TaskOptions& options, const tasks::KLVResultObject& result) {
  auto handle = std::dynamic_pointer_cast<platform::archive::NSFileHandle>(result.value());
  if (handle == nullptr) {
    std::cerr << "agentctl: the result carries no file handle\n";
    return kOperationFailed;
  }
  platform::NSError error;
  const bool done = options.read ? copyToEnd(handle->fileDescriptor(), STDOUT_FILENO, &error)
                                 : writeAll(handle->fileDescriptor(), *options.write, &error);
  if (!done) {
    std::cerr << "agentctl: " << (options.read ? "reading" : "writing")
              << " through the file handle failed: " << error.localizedDescription() << "\n";
    return kOperationFailed;
  }
  return kSucceeded;
}

int sendTask(const TaskOptions& options, platform::Bytes taskData) {
  auto diagnosis = std::make_shared<StartDiagnosis>();
  auto client = makeAgentClient(diagnosis);
  // Descriptors of a file handle travel beside the reply and are current only while the
  // reply is delivered, so they are taken in the callback.
  struct Received {
    std::mutex mutex;
    ipc::ReplyAttachments::Descriptors descriptors;
  };
  auto received = std::make_shared<Received>();
  api::PrivilegedAccessTaskRequest request{std::move(taskData)};
  auto outcome = await<Reply>(client->send<api::PrivilegedAccessTaskRequest, Reply>(request),
                              kTaskLimit, [received](const Reply&) {
                                auto descriptors = ipc::ReplyAttachments::take();
                                std::lock_guard lock(received->mutex);
                                for (auto& descriptor : descriptors) {
                                  received->descriptors.push_back(std::move(descriptor));
                                }
                              });
  if (outcome.error || outcome.values.empty()) {
    return reportFailure(outcome.error, *diagnosis);
  }
  const Reply& reply = outcome.values.front();
  if (!reply.isSuccess()) {
    std::cout << platform::json::write(reply.encodeJSON()) << "\n";
    return kOperationFailed;
  }

  std::vector<int> descriptors;
  {
    std::lock_guard lock(received->mutex);
    for (const auto& descriptor : received->descriptors) {
      descriptors.push_back(descriptor.get());
    }
  }
  platform::NSError error;
  auto decoded = decodeResult(reply.value(), descriptors, &error);
  if (!decoded) {
    std::cerr << "agentctl: the agent's result does not decode: "
              << error.stringForKey(platform::NSDebugDescriptionErrorKey)
                     .value_or(error.localizedDescription())
              << "\n";
    return kProtocolFailure;
  }
  // With a file handle to use, standard output carries the file's bytes alone.
  const bool usesHandle = options.read || options.write;
  (usesHandle ? std::cerr : std::cout) << platform::json::write(decoded->json) << std::endl;
  const auto type = decoded->result->type();
  if (type != tasks::KLVResultObject::empty && type != tasks::KLVResultObject::success) {
    return kOperationFailed;
  }
  return usesHandle ? useFileHandle(options, *decoded->result) : kSucceeded;
}

} // namespace

int runTaskCommand(const std::vector<std::string_view>& arguments) {
  if (arguments.size() == 1 && arguments[0] == "--list") {
    for (auto name : taskClassNames()) {
      std::cout << name << "\n";
    }
    return kSucceeded;
  }
  auto parsed = parseOptions(arguments);
  if (auto* code = std::get_if<int>(&parsed)) {
    return *code;
  }
  const auto& options = std::get<TaskOptions>(parsed);
  auto archived = archiveTask(options);
  if (auto* code = std::get_if<int>(&archived)) {
    return *code;
  }
  return sendTask(options, std::move(std::get<platform::Bytes>(archived)));
}

} // namespace agentctl
