#pragma once

#include "platform/foundation/NSError.h"

#include <string>
#include <vector>

namespace platform {

// A failure to decode a value, with the coding path where it happened. Bridges to the
// platform's coder errors (4864 corrupt, 4865 value not found).
class DecodingError : public BridgedError {
public:
  enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

  DecodingError(Kind kind, std::vector<std::string> codingPath, std::string debugDescription)
      : kind_(kind), codingPath_(std::move(codingPath)),
        debugDescription_(std::move(debugDescription)) {}

  Kind kind() const { return kind_; }
  const std::vector<std::string>& codingPath() const { return codingPath_; }
  const std::string& debugDescription() const { return debugDescription_; }

  NSError toNSError() const override;

private:
  Kind kind_;
  std::vector<std::string> codingPath_;
  std::string debugDescription_;
};

// A failure to encode a value (for example a number that JSON cannot represent).
class EncodingError : public BridgedError {
public:
  explicit EncodingError(std::string debugDescription)
      : debugDescription_(std::move(debugDescription)) {}
  const std::string& debugDescription() const { return debugDescription_; }
  NSError toNSError() const override;

private:
  std::string debugDescription_;
};

} // namespace platform
