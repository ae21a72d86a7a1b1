#include "platform/loader/MainBundle.h"

#include "platform/loader/DynamicLoader.h"

namespace platform::loader {
namespace {

constexpr size_t kMaximumInfoDictionarySize = 1 << 20;

std::optional<PropertyList> readInfoDictionary() {
  auto handle = MainProgramHandle::open();
  if (!handle) {
    return std::nullopt;
  }
  auto bytes = getSectionData(handle->symbol(kExecuteHeaderSymbol), "__TEXT", "__info_plist",
                              kMaximumInfoDictionarySize);
  if (!bytes) {
    return std::nullopt;
  }
  auto list = PropertyList::parse(*bytes);
  if (!list || list->root().type() != PlistRef::Type::dictionary) {
    return std::nullopt;
  }
  return list;
}

} // namespace

const PropertyList* mainBundleInfoDictionary() {
  static const std::optional<PropertyList> dictionary = readInfoDictionary();
  return dictionary ? &*dictionary : nullptr;
}

} // namespace platform::loader
