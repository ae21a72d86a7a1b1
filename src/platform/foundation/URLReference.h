#pragma once

#include <string>
#include <string_view>

namespace platform {

// Resolves the URI reference `reference` against the absolute URI `base` as RFC 3986 section
// 5.2 says (strict: a reference with a scheme is taken as it is, with its dot segments
// removed). "https://www.example.com" with "foo.xml" gives "https://www.example.com/foo.xml".
std::string resolveURLReference(std::string_view base, std::string_view reference);

} // namespace platform
