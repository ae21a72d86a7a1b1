#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace lipo {

inline constexpr const char* BinaryReaderErrorDomain = "BinaryReaderErrorDomain";
inline constexpr const char* BinaryWriterErrorDomain = "BinaryWriterErrorDomain";
inline constexpr const char* LipoErrorDomain = "LipoErrorDomain";

// The platform's names for the kinds of runtime failure the library reports.
inline constexpr const char* kRangeExceptionName = "NSRangeException";
inline constexpr const char* kMallocExceptionName = "NSMallocException";
inline constexpr const char* kGenericExceptionName = "NSGenericException";
inline constexpr const char* kFileHandleOperationExceptionName = "NSFileHandleOperationException";

// An error of the library: the description and, when given, the failure reason.
platform::NSError makeLipoError(const char* domain, int64_t code, std::string description,
                                std::optional<std::string> failureReason = std::nullopt);

// How a caught exception is reported: its name in the platform's terms and its reason.
struct ExceptionReport {
  std::string name;
  std::string reason;
};
ExceptionReport reportException(const std::exception_ptr& caught);

// The error made of a caught exception: description = its name, failure reason = its reason.
platform::NSError exceptionError(const char* domain, int64_t code,
                                 const std::exception_ptr& caught) noexcept;

} // namespace lipo
