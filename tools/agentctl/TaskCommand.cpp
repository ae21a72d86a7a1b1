#include "TaskCommand.h"

#include "DirectConnection.h"
#include "ExitCode.h"
#include "FailureReport.h"
#include "FileHandleTransfer.h"
#include "ResultPrinting.h"
#include "TaskBuilders.h"
#include "Usage.h"
#include "api/PrivilegedAccessTaskRequest.h"
#include "api/PrivilegedOperationError.h"
#include "ipc/ErrorDescription.h"
#include "ipc/Result.h"
#include "ipc/XPCMessageJSONEncoder.h"
#include "ipc/XPCMessageMapper.h"
#include "ipc/XPCMessageValidator.h"
#include "platform/archive/FileHandle.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/Values.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <variant>

namespace agentctl {
namespace {

// Whether `result` is a status result (its value the text "success" or "failure") that says
// "failure".
bool isFailureStatus(const tasks::KLVResultObject& result) {
  auto text = std::dynamic_pointer_cast<platform::archive::NSString>(result.value());
  return text != nullptr && text->value() == "failure";
}

using namespace std::chrono_literals;
using Reply = ipc::Result<platform::Bytes, api::PrivilegedOperationError>;

// The agent sets no limit on a task (those that run tools bound each tool themselves), so the
// wait is longer than the engine's 10 s; it only guards against a stuck agent.
constexpr auto kTaskLimit = 60s;

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

// Sends the request on the transport itself rather than through the engine, so that the
// descriptors of a file handle arrive in the same frame as the reply's bytes.
int sendTask(const TaskOptions& options, platform::Bytes taskData) {
  std::string failure;
  const int fd = connectSocket(failure);
  if (fd < 0) {
    std::cerr << "agentctl: " << failure << "\n";
    return kConnectionRefused;
  }
  auto connection = adoptSocket(fd, failure);
  ::close(fd); // the connection uses its own duplicate
  if (!connection) {
    std::cerr << "agentctl: " << failure << "\n";
    return kConnectionRefused;
  }
  if (auto refused = performHandshake(*connection)) {
    return *refused;
  }

  const ipc::XPCMessageJSONEncoder encoder;
  const ipc::XPCMessageMapper mapper;
  std::optional<platform::xpc::Message> frame;
  std::optional<Reply> parsed;
  try {
    ipc::XPCMessage message;
    message.flags = ipc::XPCMessage::Flag::payload();
    message.binaryPayload =
        mapper.makeBinaryPayload(api::PrivilegedAccessTaskRequest{std::move(taskData)});
    frame = exchangeFrame(*connection, encoder.encode(message), kTaskLimit);
    if (!frame) {
      return reportNoReply(*connection);
    }
    const std::string_view text(reinterpret_cast<const char*>(frame->payload.data()),
                                frame->payload.size());
    parsed = mapper.decodePayload<Reply>(ipc::XPCMessageValidator().validate(encoder.decode(text)));
  } catch (...) {
    return reportFailure(std::current_exception(), StartDiagnosis());
  }
  const Reply& reply = *parsed;
  if (!reply.isSuccess()) {
    std::cout << platform::json::write(reply.encodeJSON()) << "\n";
    return kOperationFailed;
  }

  std::vector<int> descriptors;
  for (const auto& descriptor : frame->descriptors) {
    descriptors.push_back(descriptor.get());
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
  (usesHandle ? std::cerr : std::cout) << decoded->text << std::endl;
  // A large result holds millions of small objects, and freeing them one by one took longer
  // than printing them. The command ends the process, so the system takes them back instead.
  static const DecodedResult* keptUntilExit = nullptr;
  keptUntilExit = new DecodedResult(std::move(*decoded));
  const tasks::KLVResultObject& result = *keptUntilExit->result;
  const auto type = result.type();
  if (type != tasks::KLVResultObject::empty && type != tasks::KLVResultObject::success) {
    return kOperationFailed;
  }
  // A status result of type "success" still says whether the task did its work: its value
  // "failure" is a failure, as the exit status table says.
  if (isFailureStatus(result)) {
    return kOperationFailed;
  }
  return usesHandle ? useFileHandle(options, result) : kSucceeded;
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
