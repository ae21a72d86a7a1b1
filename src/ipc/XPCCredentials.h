#pragma once

#include <memory>
#include <string>

namespace platform::security {
class DynamicCode;
}

namespace ipc {

// A client's code identity: its running code and the name of the connection it came on, which
// rules use as the prefix of their log lines.
struct XPCCredentials {
  std::shared_ptr<const platform::security::DynamicCode> secCode;
  std::string description;

  bool operator==(const XPCCredentials& other) const {
    return secCode == other.secCode && description == other.description;
  }
};

} // namespace ipc
