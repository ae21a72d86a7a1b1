#pragma once

#include <string>

namespace bench {

// Makes `root` holding `folders` folders ("folder-N") of `filesPerFolder` empty files
// ("file-N.dat") each: folders * (filesPerFolder + 1) entries below the root. False when any
// of them cannot be made (one that exists already counts as a failure).
bool makeFlatTree(const std::string& root, int folders, int filesPerFolder);

} // namespace bench
