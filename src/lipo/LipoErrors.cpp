#include "lipo/LipoErrors.h"

#include <new>
#include <stdexcept>

namespace lipo {

platform::NSError makeLipoError(const char* domain, int64_t code, std::string description,
                                std::optional<std::string> failureReason) {
  platform::UserInfo info;
  info[platform::NSLocalizedDescriptionKey] = std::move(description);
  if (failureReason) {
    info[platform::NSLocalizedFailureReasonErrorKey] = std::move(*failureReason);
  }
  return platform::NSError(domain, code, std::move(info));
}

ExceptionReport reportException(const std::exception_ptr& caught) {
  try {
    std::rethrow_exception(caught);
  } catch (const std::bad_alloc& error) {
    return {kMallocExceptionName, error.what()};
  } catch (const std::out_of_range& error) {
    return {kRangeExceptionName, error.what()};
  } catch (const std::length_error& error) {
    return {kRangeExceptionName, error.what()};
  } catch (const std::exception& error) {
    return {kGenericExceptionName, error.what()};
  } catch (...) {
    return {kGenericExceptionName, "Unknown exception"};
  }
}

platform::NSError exceptionError(const char* domain, int64_t code,
                                 const std::exception_ptr& caught) noexcept {
  try {
    ExceptionReport report = reportException(caught);
    return makeLipoError(domain, code, std::move(report.name), std::move(report.reason));
  } catch (...) {
  }
  try {
    // Out of memory while describing the failure: the domain and code still tell it.
    return platform::NSError(domain, code);
  } catch (...) {
    return platform::NSError();
  }
}

} // namespace lipo
