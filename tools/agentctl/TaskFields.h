#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace agentctl {

// Reads the fields of one JSON object the way the task builders need them: each accessor
// names the key, checks the JSON type and range and throws TaskFieldError with the key's path
// otherwise. `finish` then refuses any key that no accessor asked for, so that a misspelt key
// is an error rather than a silently missing field.
class TaskFields {
public:
  // `where` names the object in messages ("" for the top level, "profile" for a nested one).
  explicit TaskFields(const platform::json::Value& object, std::string where = "");

  // A path, or a URL when the text has a scheme ("file:///tmp/x"); taken as given.
  platform::URL url(std::string_view key);
  std::string text(std::string_view key);
  std::optional<std::string> optionalText(std::string_view key);
  bool flag(std::string_view key, bool fallback);
  // An integer in [minimum, maximum]; `fallback` when the key is absent (required when none).
  int64_t integer(std::string_view key, int64_t minimum, int64_t maximum,
                  std::optional<int64_t> fallback = std::nullopt);
  double number(std::string_view key, std::optional<double> fallback = std::nullopt);
  // Seconds since 2001-01-01 (how this system's JSON writes dates); none when absent.
  std::optional<platform::Date> date(std::string_view key);
  // "uuid" when given, else a fresh random one.
  platform::UUID uuid();
  // The nested object under `key`.
  TaskFields object(std::string_view key);

  // Throws for the first key that was not read.
  void finish() const;

private:
  const platform::json::Value* member(std::string_view key, bool required);
  [[noreturn]] void fail(std::string_view key, std::string_view problem) const;

  const platform::json::Value& object_;
  std::string where_;
  std::set<std::string, std::less<>> read_;
};

} // namespace agentctl
