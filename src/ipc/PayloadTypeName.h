#pragma once

#include "platform/foundation/Base64.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ipc {

// The fully qualified name ("Module.Type") under which a type is known on both sides of the
// wire. Records declare it once as `static constexpr std::string_view reflectingName`; the
// standard value types are named here.
template <class T> struct ReflectingName {
  static std::string make() requires requires { std::string_view(T::reflectingName); }
  { return std::string(T::reflectingName); }
};

template <> struct ReflectingName<bool> {
  static std::string make() { return "Swift.Bool"; }
};
template <> struct ReflectingName<uint32_t> {
  static std::string make() { return "Swift.UInt32"; }
};
template <> struct ReflectingName<uint64_t> {
  static std::string make() { return "Swift.UInt64"; }
};
template <> struct ReflectingName<int64_t> {
  static std::string make() { return "Swift.Int"; }
};
template <> struct ReflectingName<double> {
  static std::string make() { return "Swift.Double"; }
};
template <> struct ReflectingName<std::string> {
  static std::string make() { return "Swift.String"; }
};
template <> struct ReflectingName<platform::Bytes> {
  static std::string make() { return "Foundation.Data"; }
};

// The reflecting name of T, built once per type.
template <class T> const std::string& reflectingName() {
  static const std::string name = ReflectingName<T>::make();
  return name;
}

// The wire type name of a reflecting name: split at every "." (empty pieces dropped), drop the
// first piece (the module) when there is more than one, and join the rest with ".". Dots inside
// generic arguments are split like any other, so "Swift.Result<Swift.Bool, M.E>" becomes
// "Result<Swift.Bool, M.E>".
std::string payloadTypeNameOf(std::string_view reflectingName);

// The wire type name of T: the name that payloads carry in "encodedType" and under which
// handlers are registered. Built once per type, so the hot path only reads it.
template <class T> const std::string& payloadTypeName() {
  static const std::string name = payloadTypeNameOf(reflectingName<T>());
  return name;
}

} // namespace ipc
