#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/JSON.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace agentctl {

// A JSON description that does not make a task of the class asked for.
class TaskFieldError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The archived class names of every task class that `buildTask` can make, sorted.
std::vector<std::string_view> taskClassNames();

// Builds the task object of the archived class `className` from `fields`, a JSON object whose
// keys are the class's archived keys. Values are taken as given (a zero timeout or process
// identifier too, so that the agent's refusal can be tried); only their JSON types and ranges
// are checked here. Throws TaskFieldError for an unknown class, a missing required key, a value
// of the wrong type, or a key the class does not have.
platform::archive::ObjectPtr buildTask(std::string_view className,
                                       const platform::json::Value& fields);

} // namespace agentctl
