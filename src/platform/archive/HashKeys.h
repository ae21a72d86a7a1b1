#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <tuple>
#include <utility>

namespace platform::archive {

// Hashes of the keys under which the archive writers unique what they have written, so that
// lookups cost O(1) however many objects an archive holds.
inline size_t combineHashes(size_t seed, size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

struct PairKeyHash {
  template <class A, class B> size_t operator()(const std::pair<A, B>& key) const {
    return combineHashes(std::hash<A>()(key.first), std::hash<B>()(key.second));
  }
};

struct NumberKeyHash {
  size_t operator()(const std::tuple<size_t, int64_t, uint64_t>& key) const {
    return combineHashes(combineHashes(std::hash<size_t>()(std::get<0>(key)),
                                       std::hash<int64_t>()(std::get<1>(key))),
                         std::hash<uint64_t>()(std::get<2>(key)));
  }
};

} // namespace platform::archive
