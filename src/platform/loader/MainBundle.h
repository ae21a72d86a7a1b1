#pragma once

#include "platform/foundation/PropertyList.h"

namespace platform::loader {

// The information dictionary of the main bundle. For a bare executable it is the Info property
// list embedded in its "__info_plist" section; null when there is none or it is not a
// dictionary. Read once, on first use, and kept for the life of the process, as the platform's
// bundle does.
const PropertyList* mainBundleInfoDictionary();

} // namespace platform::loader
