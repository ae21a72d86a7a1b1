#pragma once

#include <cstddef>
#include <optional>
#include <type_traits>
#include <vector>

namespace lipo {

// Small collection helpers of the library.

// A copy of `elements`.
template <typename T> std::vector<T> lipo_map(const std::vector<T>& elements) {
  return elements;
}

// Applies `transform(element, index)` to each element; elements for which it gives none are
// dropped.
template <typename T, typename Transform>
auto lipo_map(const std::vector<T>& elements, Transform transform) {
  using Result = typename std::invoke_result_t<Transform, const T&, size_t>::value_type;
  std::vector<Result> mapped;
  mapped.reserve(elements.size());
  for (size_t index = 0; index < elements.size(); ++index) {
    if (auto value = transform(elements[index], index)) {
      mapped.push_back(std::move(*value));
    }
  }
  return mapped;
}

// The elements for which `predicate` answers true.
template <typename T, typename Predicate>
std::vector<T> lipo_filter(const std::vector<T>& elements, Predicate predicate) {
  std::vector<T> kept;
  for (const T& element : elements) {
    if (predicate(element)) {
      kept.push_back(element);
    }
  }
  return kept;
}

// The first element for which `predicate` answers true (the search stops there), or none.
template <typename T, typename Predicate>
std::optional<T> lipo_first(const std::vector<T>& elements, Predicate predicate) {
  for (const T& element : elements) {
    if (predicate(element)) {
      return element;
    }
  }
  return std::nullopt;
}

// Whether some element satisfies `predicate`.
template <typename T, typename Predicate>
bool lipo_contains(const std::vector<T>& elements, Predicate predicate) {
  for (const T& element : elements) {
    if (predicate(element)) {
      return true;
    }
  }
  return false;
}

} // namespace lipo
