#pragma once

#include "ipc/AuthorizationRule.h"

namespace ipc {

// The rule every client of a server must satisfy.
struct ClientRequirement {
  AnyAuthorizationRule rule;
};

} // namespace ipc
