#include "ipc/SecurityErrors.h"

namespace ipc {
namespace {

const char* caseName(SecurityErrors::Case errorCase) {
  switch (errorCase) {
  case SecurityErrors::Case::failedToLoadSecurityCodeForClient:
    return "failedToLoadSecurityCodeForClient";
  case SecurityErrors::Case::failedToLoadStaticCode:
    return "failedToLoadStaticCode";
  case SecurityErrors::Case::failedToLoadCodePath:
    return "failedToLoadCodePath";
  case SecurityErrors::Case::failedToMakeRequirement:
    return "failedToMakeRequirement";
  case SecurityErrors::Case::requirementNotFulfilled:
    return "requirementNotFulfilled";
  case SecurityErrors::Case::entitlementError:
    return "entitlementError";
  case SecurityErrors::Case::credentialsNotAvailable:
    return "credentialsNotAvailable";
  case SecurityErrors::Case::insecureServer:
    return "insecureServer";
  }
  return "unknown";
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
    }
    out.push_back(c);
  }
  return out + "\"";
}

} // namespace

int32_t SecurityErrors::status() const {
  const int32_t* status = std::get_if<int32_t>(&value_);
  return status != nullptr ? *status : 0;
}

std::string SecurityErrors::text() const {
  const std::string* text = std::get_if<std::string>(&value_);
  return text != nullptr ? *text : std::string();
}

std::string SecurityErrors::description() const {
  std::string name = caseName(case_);
  if (std::holds_alternative<int32_t>(value_)) {
    return name + "(" + std::to_string(status()) + ")";
  }
  if (std::holds_alternative<std::string>(value_)) {
    return name + "(" + quoted(text()) + ")";
  }
  return name;
}

} // namespace ipc
