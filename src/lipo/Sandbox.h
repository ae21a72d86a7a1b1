#pragma once

#include <string>

namespace lipo {

// Tilde expansion that reaches the user's real home folder also from a sandboxed process,
// whose own expansion would point into its container.

// In a sandboxed process (the environment has "APP_SANDBOX_CONTAINER_ID"), a leading "~" is
// replaced by the home folder recorded for the current user in the user database; otherwise,
// and afterwards, the usual expansion applies ("~" and "~/..." to the home folder, "~name" to
// that user's home folder).
std::string lipo_stringByExpandingTildeInPath(const std::string& path);

// Replaces every occurrence of the expansion of "~" with "~".
std::string lipo_stringByCollapsingTildeInPath(const std::string& path);

} // namespace lipo
