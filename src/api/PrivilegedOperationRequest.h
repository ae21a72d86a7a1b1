#pragma once

#include "api/EmptyResponse.h"
#include "platform/foundation/JSONCoding.h"

#include <concepts>
#include <type_traits>

namespace api {

// Which of the two request protocols a record conforms to. Each record names its own.
enum class RequestConformance {
  privilegedOperation,      // answered with one value of its ResponseType
  emptyPrivilegedOperation, // answered with EmptyResponse
  none,                     // served otherwise (as a sequence)
};

// A request answered with one value of `ResponseType`.
template <class T>
concept PrivilegedOperationRequest =
    platform::json::JSONRecord<T> && std::equality_comparable<T> && requires {
  typename T::ResponseType;
} && T::conformance == RequestConformance::privilegedOperation;

// A request answered with EmptyResponse. It does not refine PrivilegedOperationRequest.
template <class T>
concept EmptyPrivilegedOperationRequest =
    platform::json::JSONRecord<T> && std::equality_comparable<T> &&
    T::conformance == RequestConformance::emptyPrivilegedOperation&&
                          std::same_as<typename T::ResponseType, EmptyResponse>;

} // namespace api
