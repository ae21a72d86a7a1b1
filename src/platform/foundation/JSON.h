#pragma once

#include "platform/foundation/Base64.h"

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace platform::json {

// A JSON document. Objects keep their members in a sorted map, so writing one yields the
// sorted-keys form without any extra step.
using Value = nlohmann::json;

// Nesting deeper than this is refused before parsing, so that hostile input cannot make the
// parser or the value's destructor recurse without bound.
inline constexpr size_t kMaximumNestingDepth = 512;

// Writes `value` compactly with sorted keys, "/" escaped as "\/", non-ASCII text as UTF-8.
// Throws EncodingError for numbers that JSON cannot represent (NaN, infinity).
std::string write(const Value& value);
void write(const Value& value, std::string& out);
// Appends `text` as a JSON string, escaped as `write` escapes strings: for writers that stream
// a large document rather than build its Value.
void appendString(std::string_view text, std::string& out);
// The same text as bytes, in a buffer of exactly its size: a document of hundreds of
// megabytes is written once, with no copy and no spare capacity.
Bytes writeBytes(const Value& value);

// Parses one JSON document; throws DecodingError (data corrupted) for anything that is not
// valid JSON, including invalid UTF-8 and nesting past kMaximumNestingDepth.
Value parse(std::string_view text);

} // namespace platform::json
