#pragma once

#include "platform/foundation/Base64.h"
#include "platform/foundation/JSONCoding.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <string>
#include <string_view>

namespace ipc {

// What a client tells the server about itself when it connects.
struct HandshakePayload {
  // Failures of filling a payload from an application bundle.
  class Errors : public platform::BridgedError {
  public:
    enum class Case { failedToGetBundleIdentifier, failedToGetBundleVersion };

    static constexpr std::string_view reflectingName = "IPCProtocol_Static.HandshakePayload.Errors";

    explicit Errors(Case value) : case_(value) {}
    Case value() const { return case_; }
    platform::NSError toNSError() const override {
      return platform::NSError::bridged(std::string(reflectingName), static_cast<int64_t>(case_));
    }
    bool operator==(const Errors& other) const { return case_ == other.case_; }

  private:
    Case case_;
  };

  static constexpr std::string_view reflectingName = "IPCProtocol_Static.HandshakePayload";

  platform::URL bundleURL;
  std::string bundleID;
  std::string version;
  platform::Bytes bookmark;

  bool operator==(const HandshakePayload&) const = default;

  platform::json::Value encodeJSON() const;
  static HandshakePayload decodeJSON(const platform::json::Decoder& decoder);
};

} // namespace ipc
