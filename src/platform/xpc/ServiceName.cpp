#include "platform/xpc/ServiceName.h"

#include "platform/xpc/TransportError.h"

#include <sys/un.h>

namespace platform::xpc {

bool isValidServiceName(std::string_view name) {
  constexpr size_t kMaximumLength =
      sizeof(sockaddr_un::sun_path) - 1 - kServiceSocketDirectory.size();
  if (name.empty() || name.size() > kMaximumLength || name.front() == '.') {
    return false;
  }
  for (const char character : name) {
    const bool allowed = (character >= 'a' && character <= 'z') ||
                         (character >= 'A' && character <= 'Z') ||
                         (character >= '0' && character <= '9') || character == '.' ||
                         character == '_' || character == '-';
    if (!allowed) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> socketPathForService(std::string_view name, NSError* error) {
  if (!isValidServiceName(name)) {
    setError(error, makeTransportError(TransportErrorCode::invalidServiceName,
                                       "Invalid service name \"" + std::string(name) + "\"."));
    return std::nullopt;
  }
  return std::string(kServiceSocketDirectory) + std::string(name);
}

} // namespace platform::xpc
