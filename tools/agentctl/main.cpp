// agentctl: a command-line client of the privileged agent. It is signed at build time with
// the identity of the main application, so the agent admits it.

#include "AgentClient.h"
#include "ExitCode.h"
#include "HealthRepeat.h"
#include "RawExchange.h"
#include "RequestTable.h"
#include "TaskCommand.h"
#include "Usage.h"
#include "ipc/ErrorDescription.h"
#include "platform/foundation/JSON.h"
#include "platform/security/ClientHardening.h"

#include <charconv>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace agentctl;
using Arguments = std::vector<std::string_view>;

// The error and the usage line of the command (its first line); --help gives the rest.
int usageError(std::string_view text, std::string_view usage) {
  std::cerr << "agentctl: " << text << "\n" << usage.substr(0, usage.find('\n') + 1);
  return kUsage;
}

bool asksForHelp(const Arguments& arguments) {
  for (auto argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      return true;
    }
  }
  return false;
}

int sendByName(Arguments arguments, bool sequence) {
  const std::string_view usage = sequence ? kSequenceUsage : kSendUsage;
  SendOptions options;
  if (sequence && arguments.size() >= 2 && arguments[0] == "--cancel-after") {
    double seconds = 0;
    auto [end, error] = std::from_chars(arguments[1].begin(), arguments[1].end(), seconds);
    if (error != std::errc() || end != arguments[1].end() || !(seconds > 0) || seconds > 86400) {
      return usageError("--cancel-after needs a number of seconds", usage);
    }
    options.cancelAfter = std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    arguments.erase(arguments.begin(), arguments.begin() + 2);
  }
  if (arguments.empty() || arguments.size() > 2) {
    return usageError("expected TYPE and at most one JSON argument", usage);
  }
  const RequestCommand* command = findRequestCommand(arguments[0]);
  if (!command) {
    return usageError("unknown request type \"" + std::string(arguments[0]) +
                          "\" (\"agentctl types\" lists them)",
                      usage);
  }
  if (command->isSequence != sequence) {
    return usageError(std::string(command->name) + (command->isSequence
                                                        ? " is a sequence request: use sequence"
                                                        : " is not a sequence request: use send"),
                      usage);
  }
  platform::json::Value body = platform::json::Value::object();
  if (arguments.size() == 2) {
    try {
      body = platform::json::parse(arguments[1]);
    } catch (const std::exception& error) {
      std::cerr << "agentctl: the JSON argument is not valid JSON: " << ipc::errorDescription(error)
                << "\n";
      return kBadJSON;
    }
  }
  auto diagnosis = std::make_shared<StartDiagnosis>();
  auto client = makeAgentClient(diagnosis);
  return command->run(*client, *diagnosis, body, options);
}

int raw(const Arguments& arguments) {
  RawOptions options;
  std::optional<std::string_view> bytes;
  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string_view argument = arguments[index];
    if (argument == "--no-handshake") {
      options.handshake = false;
    } else if (argument == "--exec-after-handshake") {
      options.execAfterHandshake = true;
    } else if (argument == "--socket-fd" && index + 1 < arguments.size()) {
      const std::string_view number = arguments[++index];
      int fd = -1;
      auto [end, error] = std::from_chars(number.begin(), number.end(), fd);
      if (error != std::errc() || end != number.end() || fd < 3) {
        return usageError("--socket-fd needs a descriptor number", kRawUsage);
      }
      options.inheritedSocket = fd;
    } else if (!bytes && (argument == "--" || !argument.starts_with("--"))) {
      bytes = argument == "--" && index + 1 < arguments.size() ? arguments[++index] : argument;
    } else {
      return usageError("unexpected argument \"" + std::string(argument) + "\"", kRawUsage);
    }
  }
  if (!bytes) {
    return usageError("expected BYTES", kRawUsage);
  }
  options.bytes = std::string(*bytes);
  return runRawExchange(options);
}

int types() {
  for (const auto& command : requestCommands()) {
    std::cout << command.name << (command.isSequence ? "  (sequence)" : "") << "\n";
  }
  return kSucceeded;
}

} // namespace

int main(int argc, char** argv) {
  // Before anything else: no other process of this user may attach to or read this one.
  platform::NSError hardeningError;
  if (!platform::security::makeProcessNonDumpable(&hardeningError)) {
    std::cerr << "agentctl: cannot protect this process: " << hardeningError.localizedDescription()
              << "\n";
    return kProtocolFailure;
  }

  Arguments all(argv + 1, argv + argc);
  if (all.size() >= 2 && all[0] == "--socket") {
    if (all[1].empty()) {
      return usageError("--socket needs a path", kToolUsage);
    }
    setAgentSocketPath(std::string(all[1]));
    all.erase(all.begin(), all.begin() + 2);
  }
  if (all.empty()) {
    std::cerr << kToolUsage;
    return kUsage;
  }
  if (all[0] == "--help" || all[0] == "-h" || all[0] == "help") {
    std::cout << kToolUsage;
    return kSucceeded;
  }
  if (all[0] == "--version") {
    std::cout << "agentctl " << ownVersion().value_or("(unknown version)") << "\n";
    return kSucceeded;
  }
  const std::string_view command = all[0];
  const Arguments arguments(all.begin() + 1, all.end());
  struct Entry {
    std::string_view name;
    std::string_view usage;
  };
  static constexpr Entry kCommands[] = {{"send", kSendUsage},     {"sequence", kSequenceUsage},
                                        {"task", kTaskUsage},     {"raw", kRawUsage},
                                        {"health", kHealthUsage}, {"types", kTypesUsage}};
  for (const auto& entry : kCommands) {
    if (entry.name == command && asksForHelp(arguments)) {
      std::cout << entry.usage;
      return kSucceeded;
    }
  }
  if (command == "send" || command == "sequence") {
    return sendByName(arguments, command == "sequence");
  }
  if (command == "task") {
    return runTaskCommand(arguments);
  }
  if (command == "raw") {
    return raw(arguments);
  }
  if (command == "health") {
    if (arguments.empty()) {
      return sendByName({"HealthCheckRequest"}, false);
    }
    int count = 0;
    const bool samples = arguments.size() == 3 && arguments[2] == "--samples";
    if ((arguments.size() == 2 || samples) && arguments[0] == "--repeat") {
      auto [end, error] = std::from_chars(arguments[1].begin(), arguments[1].end(), count);
      if (error == std::errc() && end == arguments[1].end() && count > 0 && count <= 1000000) {
        return repeatHealthChecks(count, samples);
      }
    }
    return usageError("health takes no arguments but --repeat N [--samples]", kHealthUsage);
  }
  if (command == "types") {
    return types();
  }
  return usageError("unknown command \"" + std::string(command) + "\"", kToolUsage);
}
