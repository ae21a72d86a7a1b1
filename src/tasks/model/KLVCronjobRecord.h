#pragma once

#include "platform/archive/Object.h"

#include <string>
#include <vector>

namespace tasks {

// One parsed crontab line: the trimmed line itself, its schedule, its command and the paths
// of the programs that the command names. Archived as "source" (required), "schedulerPattern",
// "commandText" and "executablePaths" (an array of strings, required).
class KLVCronjobRecord final : public platform::archive::Object {
public:
  KLVCronjobRecord(std::string source, std::string schedulerPattern, std::string commandText,
                   std::vector<std::string> executablePaths)
      : source_(std::move(source)), schedulerPattern_(std::move(schedulerPattern)),
        commandText_(std::move(commandText)), executablePaths_(std::move(executablePaths)) {}

  static const platform::archive::ObjectClass& classObject();

  const std::string& source() const { return source_; }
  const std::string& schedulerPattern() const { return schedulerPattern_; }
  const std::string& commandText() const { return commandText_; }
  const std::vector<std::string>& executablePaths() const { return executablePaths_; }

  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return source_; }

private:
  std::string source_;
  std::string schedulerPattern_;
  std::string commandText_;
  std::vector<std::string> executablePaths_;
};

} // namespace tasks
