#include "TaskFields.h"

#include "TaskBuilders.h"

#include <cmath>

namespace agentctl {

using platform::json::Value;

TaskFields::TaskFields(const Value& object, std::string where)
    : object_(object), where_(std::move(where)) {
  if (!object_.is_object()) {
    throw TaskFieldError((where_.empty() ? std::string("the fields") : "\"" + where_ + "\"") +
                         " must be a JSON object");
  }
}

void TaskFields::fail(std::string_view key, std::string_view problem) const {
  const std::string path = where_.empty() ? std::string(key) : where_ + "." + std::string(key);
  throw TaskFieldError("\"" + path + "\" " + std::string(problem));
}

const Value* TaskFields::member(std::string_view key, bool required) {
  read_.emplace(key);
  auto it = object_.find(key);
  if (it == object_.end() || it->is_null()) {
    if (required) {
      fail(key, "is required");
    }
    return nullptr;
  }
  return &*it;
}

platform::URL TaskFields::url(std::string_view key) {
  const std::string given = text(key);
  if (given.empty()) {
    fail(key, "must not be empty");
  }
  // A scheme is letters, digits, "+", "-" or "." before the first ":" and not a path.
  const size_t colon = given.find(':');
  const bool hasScheme =
      colon != std::string::npos && colon > 0 && given.front() != '/' && given.find('/') > colon;
  if (!hasScheme) {
    return platform::URL::fileURLWithPath(given);
  }
  auto url = platform::URL::fromString(given);
  if (!url) {
    fail(key, "is not a valid URL");
  }
  return *url;
}

std::string TaskFields::text(std::string_view key) {
  const Value* value = member(key, true);
  if (!value->is_string()) {
    fail(key, "must be a string");
  }
  return value->get<std::string>();
}

std::optional<std::string> TaskFields::optionalText(std::string_view key) {
  if (member(key, false) == nullptr) {
    return std::nullopt;
  }
  return text(key);
}

bool TaskFields::flag(std::string_view key, bool fallback) {
  const Value* value = member(key, false);
  if (value == nullptr) {
    return fallback;
  }
  if (!value->is_boolean()) {
    fail(key, "must be true or false");
  }
  return value->get<bool>();
}

int64_t TaskFields::integer(std::string_view key, int64_t minimum, int64_t maximum,
                            std::optional<int64_t> fallback) {
  const Value* value = member(key, !fallback.has_value());
  if (value == nullptr) {
    return *fallback;
  }
  int64_t number = 0;
  if (value->is_number_integer()) {
    if (value->is_number_unsigned() && value->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) {
      fail(key, "is out of range");
    }
    number = value->get<int64_t>();
  } else {
    fail(key, "must be an integer");
  }
  if (number < minimum || number > maximum) {
    fail(key, "must lie in [" + std::to_string(minimum) + ", " + std::to_string(maximum) + "]");
  }
  return number;
}

double TaskFields::number(std::string_view key, std::optional<double> fallback) {
  const Value* value = member(key, !fallback.has_value());
  if (value == nullptr) {
    return *fallback;
  }
  if (!value->is_number() || !std::isfinite(value->get<double>())) {
    fail(key, "must be a finite number");
  }
  return value->get<double>();
}

std::optional<platform::Date> TaskFields::date(std::string_view key) {
  if (member(key, false) == nullptr) {
    return std::nullopt;
  }
  return platform::Date::fromTimeIntervalSinceReferenceDate(number(key));
}

platform::UUID TaskFields::uuid() {
  auto given = optionalText("uuid");
  if (!given) {
    return platform::UUID();
  }
  auto uuid = platform::UUID::fromString(*given);
  if (!uuid) {
    fail("uuid", "is not a UUID");
  }
  return *uuid;
}

TaskFields TaskFields::object(std::string_view key) {
  const Value* value = member(key, true);
  return TaskFields(*value, where_.empty() ? std::string(key) : where_ + "." + std::string(key));
}

void TaskFields::finish() const {
  for (auto it = object_.begin(); it != object_.end(); ++it) {
    if (!read_.contains(it.key())) {
      fail(it.key(), "is not a field of this class");
    }
  }
}

} // namespace agentctl
