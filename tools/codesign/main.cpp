// agent-codesign: signs executables for the agent's clients and shows or checks signatures.
//
//   agent-codesign --identifier ID --key KEY.pem --cert LEAF.pem [--chain CHAIN.pem] FILE
//   agent-codesign --verify [--anchors DIR] [--requirement TEXT] FILE
//   agent-codesign --display [--anchors DIR] FILE
//
// Exit status: 0 success, 1 failure, 2 usage error.
#include "platform/security/CodeSigner.h"
#include "platform/security/StaticCode.h"

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

using namespace platform::security;

namespace {

enum class Action { sign, verify, display };

struct Config {
  Action action = Action::sign;
  SigningParameters signing;
  std::optional<std::string> anchorsDirectory;
  std::optional<std::string> requirement;
  std::string file;
};

constexpr const char* kUsage =
    "usage: agent-codesign --identifier ID --key KEY.pem --cert LEAF.pem [--chain CHAIN.pem] FILE\n"
    "       agent-codesign --verify [--anchors DIR] [--requirement TEXT] FILE\n"
    "       agent-codesign --display [--anchors DIR] FILE\n"
    "       agent-codesign --help\n";

int usage(const std::string& problem) {
  std::cerr << "agent-codesign: " << problem << "\n" << kUsage;
  return 2;
}

// Parses argv into `config`; an empty string on success, else the problem.
std::string parseArguments(int argc, char** argv, Config& config) {
  bool actionGiven = false;
  for (int index = 1; index < argc; ++index) {
    std::string_view argument = argv[index];
    auto value = [&](std::string& out) -> bool {
      if (index + 1 >= argc) {
        return false;
      }
      out = argv[++index];
      return true;
    };
    std::string text;
    if (argument == "--verify" || argument == "--display") {
      if (actionGiven) {
        return "choose one of --verify and --display";
      }
      actionGiven = true;
      config.action = argument == "--verify" ? Action::verify : Action::display;
    } else if (argument == "--identifier") {
      if (!value(config.signing.identifier)) {
        return "--identifier needs a value";
      }
    } else if (argument == "--key") {
      if (!value(config.signing.keyPath)) {
        return "--key needs a value";
      }
    } else if (argument == "--cert") {
      if (!value(config.signing.certificatePath)) {
        return "--cert needs a value";
      }
    } else if (argument == "--chain") {
      if (!value(text)) {
        return "--chain needs a value";
      }
      config.signing.chainPath = text;
    } else if (argument == "--anchors") {
      if (!value(text)) {
        return "--anchors needs a value";
      }
      config.anchorsDirectory = std::filesystem::absolute(text).lexically_normal().string();
    } else if (argument == "--requirement" || argument == "-R") {
      if (!value(text)) {
        return "--requirement needs a value";
      }
      config.requirement = text;
    } else if (!argument.empty() && argument.front() == '-') {
      return "unknown option " + std::string(argument);
    } else if (config.file.empty()) {
      config.file = argument;
    } else {
      return "only one file at a time";
    }
  }
  if (config.file.empty()) {
    return "no file given";
  }
  if (config.action == Action::sign &&
      (config.signing.identifier.empty() || config.signing.keyPath.empty() ||
       config.signing.certificatePath.empty())) {
    return "signing needs --identifier, --key and --cert";
  }
  return "";
}

int sign(const Config& config) {
  platform::NSError error;
  if (!signFile(config.file, config.signing, &error)) {
    std::cerr << config.file << ": " << error.localizedDescription() << "\n";
    return 1;
  }
  std::cout << config.file << ": signed as " << config.signing.identifier << "\n";
  return 0;
}

SecStatus validate(const Config& config, const StaticCode& code, SigningInformation* validated) {
  ValidationOptions options;
  options.anchorsDirectory = config.anchorsDirectory;
  options.useDigestCache = false;
  Requirement requirement;
  if (config.requirement) {
    if (SecStatus status = Requirement::compile(*config.requirement, requirement); !status) {
      return status;
    }
  }
  return code.checkValidity(options, config.requirement ? &requirement : nullptr, validated);
}

int verify(const Config& config, const StaticCode& code) {
  SecStatus status = validate(config, code, nullptr);
  if (!status) {
    std::cerr << config.file << ": " << status.description() << "\n";
    return 1;
  }
  std::cout << config.file << ": valid on disk\n";
  if (config.requirement) {
    std::cout << config.file << ": satisfies its requirement\n";
  }
  return 0;
}

int display(const Config& config, const StaticCode& code) {
  SigningInformation information;
  if (SecStatus status = code.copySigningInformation(information); !status) {
    std::cerr << config.file << ": " << status.description() << "\n";
    return 1;
  }
  std::cout << "Executable=" << information.path << "\n"
            << "Identifier=" << information.identifier << "\n"
            << "TeamIdentifier=" << information.teamIdentifier.value_or("not set") << "\n"
            << "CodeLength=" << information.codeLength << "\n";
  for (const Certificate& certificate : information.certificates) {
    std::cout << "Authority=" << certificate.subjectSummary() << "\n";
  }
  if (information.info) {
    for (const char* key : {"CFBundleIdentifier", "CFBundleShortVersionString"}) {
      if (auto value = information.info->root()[key].stringValue()) {
        std::cout << "Info." << key << "=" << *value << "\n";
      }
    }
  }
  SecStatus status = validate(config, code, nullptr);
  std::cout << "Validity=" << (status ? "valid" : status.description()) << "\n";
  return status ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::cout
        << kUsage
        << "\nSigns FILE (an ELF executable) with the key and certificate chain given, checks "
           "its\nsignature against the trust anchors (and a requirement), or displays it.\n"
           "See agent-codesign(1). Exit status: 0 success, 1 failure, 2 usage error.\n";
    return 0;
  }
  Config config;
  if (std::string problem = parseArguments(argc, argv, config); !problem.empty()) {
    return usage(problem);
  }
  if (config.action == Action::sign) {
    return sign(config);
  }
  std::shared_ptr<StaticCode> code;
  if (SecStatus status = StaticCode::createWithPath(config.file, code); !status) {
    std::cerr << config.file << ": " << status.description() << "\n";
    return 1;
  }
  return config.action == Action::verify ? verify(config, *code) : display(config, *code);
}
