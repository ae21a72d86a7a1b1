#pragma once

#include "platform/archive/ArchiveLimits.h"
#include "platform/archive/BinaryPropertyList.h"
#include "platform/archive/ClassRegistry.h"
#include "platform/archive/Object.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::archive {

// How an archive is read: which classes its names resolve to, the limits, and the side list
// of descriptors that arrived with it (borrowed; decoded file handles hold duplicates).
struct UnarchiveOptions {
  const ClassRegistry* registry = nullptr; // null: ClassRegistry::shared()
  ArchiveLimits limits;
  std::span<const int> fileDescriptors;
};

// Reads a keyed archive with secure coding, the way the platform's unarchiver does: the root
// must be of a class the caller allows, and every nested object of a class that its owner
// allows at that call. The bytes are validated up front (binary property list structure, the
// archive's header, every reference and class record); each object is decoded at most once,
// and cycles, depth and total work are bounded.
//
// `initWithCoder` functions call the decode functions below on the object being decoded. A
// failure (`failWithError`, a refused class, a malformed value) makes every later call return
// null or zero and the top-level call return null with the error. Nothing here throws.
class KeyedUnarchiver {
public:
  // Validates `bytes`; on failure `error()` is set and decoding returns nothing.
  KeyedUnarchiver(std::span<const uint8_t> bytes, const UnarchiveOptions& options = {});
  // Reads a property list already read from an archive's bytes (with the same limits as
  // `options`), which must outlive the unarchiver: a caller that reads the list for another
  // purpose too reads it once. The keyed-archive structure is validated as for bytes.
  KeyedUnarchiver(const BinaryPropertyList& list, const UnarchiveOptions& options = {});
  ~KeyedUnarchiver();
  KeyedUnarchiver(const KeyedUnarchiver&) = delete;
  KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

  // Decodes the root object ("root" in "$top") admitting `allowed`.
  ObjectPtr decodeRootObjectOfClasses(const ClassSet& allowed);

  bool containsValueForKey(std::string_view key) const;

  // Decodes the object under `key`, admitting only `allowed` (a class or its subclasses).
  // Absent keys and "$null" give null without an error.
  ObjectPtr decodeObjectOfClasses(const ClassSet& allowed, std::string_view key);
  ObjectPtr decodeObjectOfClass(const ObjectClass& objectClass, std::string_view key) {
    return decodeObjectOfClasses({&objectClass}, key);
  }
  // Typed form: `T` names its class with `T::classObject()`.
  template <class T> std::shared_ptr<T> decodeObjectOfClass(std::string_view key);
  // Decodes with the allowed classes of the current call (those that admitted the object
  // being decoded), as the platform's decodeObjectForKey: does under secure coding.
  ObjectPtr decodeObjectForKey(std::string_view key);

  // Scalars. Absent keys read false or 0; a value of another kind fails decoding. Integers
  // and Booleans convert to one another, integers to doubles, as the platform reads them.
  bool decodeBoolForKey(std::string_view key);
  int32_t decodeInt32ForKey(std::string_view key);
  int64_t decodeIntegerForKey(std::string_view key) { return decodeInt64ForKey(key); }
  int64_t decodeInt64ForKey(std::string_view key);
  double decodeDoubleForKey(std::string_view key);
  // Raw bytes stored inline (encodeBytes); none when absent.
  std::optional<Bytes> decodeBytesForKey(std::string_view key);

  // Shorthands for the standard value classes; none when absent or refused.
  std::optional<std::string> decodeStringForKey(std::string_view key);
  std::optional<URL> decodeURLForKey(std::string_view key);
  std::optional<UUID> decodeUUIDForKey(std::string_view key);
  std::optional<Date> decodeDateForKey(std::string_view key);
  std::optional<Bytes> decodeDataForKey(std::string_view key);

  // The classes that admitted the object being decoded; collections check their contents
  // against them.
  const ClassSet& allowedClasses() const;
  // Decodes an array of references under `key` (how collections store contents), each
  // admitted by `allowedClasses()`. A null element or a refused one fails decoding.
  std::optional<std::vector<ObjectPtr>> decodeArrayOfObjectsForKey(std::string_view key);

  // The descriptor at `index` in the side list; -1 when out of range.
  int fileDescriptorAtIndex(int64_t index) const;

  // Makes decoding fail with `error` (the first failure wins).
  void failWithError(NSError error);
  const std::optional<NSError>& error() const { return error_; }

private:
  using Node = BinaryPropertyList::Ref;
  struct Entry;
  struct Frame {
    Node object;
    const ClassSet* allowed;
  };

  bool validateArchive(std::span<const uint8_t> bytes);
  bool validateStructure();
  bool validateObject(uint64_t index);
  void fail(std::string debugDescription);
  ObjectPtr resolve(uint64_t uid, const ClassSet& allowed, std::string_view key);
  const ObjectClass* classOf(uint64_t uid, std::string_view key);
  Node value(std::string_view key) const;

  UnarchiveOptions options_;
  const ClassRegistry& registry_;
  std::optional<BinaryPropertyList> ownedPlist_; // read from the bytes given
  const BinaryPropertyList* plist_ = nullptr;
  Node objects_;
  uint64_t objectCount_ = 0;
  uint64_t rootUID_ = 0;
  std::vector<Entry> entries_;
  std::vector<Frame> frames_;
  size_t references_ = 0;
  std::optional<NSError> error_;
};

template <class T> std::shared_ptr<T> KeyedUnarchiver::decodeObjectOfClass(std::string_view key) {
  auto object = decodeObjectOfClasses({&T::classObject()}, key);
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (object != nullptr && typed == nullptr) {
    failWithError(NSError(NSCocoaErrorDomain, NSCoderReadCorruptError,
                          {{NSDebugDescriptionErrorKey, "value for key '" + std::string(key) +
                                                            "' did not decode to a '" +
                                                            T::classObject().name() + "'"}}));
  }
  return typed;
}

// Unarchives the root of `data` admitting `allowed` (the platform's
// unarchivedObjectOfClasses:fromData:error:). Null with `error` set when the archive is
// refused; null with `error` untouched when the root's initWithCoder declined its fields.
ObjectPtr unarchivedObjectOfClasses(const ClassSet& allowed, std::span<const uint8_t> data,
                                    NSError* error, const UnarchiveOptions& options = {});

// The same for a property list already read from the archive's bytes (see the unarchiver's
// constructor).
ObjectPtr unarchivedObjectOfClasses(const ClassSet& allowed, const BinaryPropertyList& list,
                                    NSError* error, const UnarchiveOptions& options = {});

// Typed form of the above for a single class `T`.
template <class T>
std::shared_ptr<T> unarchivedObjectOfClass(std::span<const uint8_t> data, NSError* error,
                                           const UnarchiveOptions& options = {}) {
  auto object = unarchivedObjectOfClasses({&T::classObject()}, data, error, options);
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (object != nullptr && typed == nullptr) {
    setError(error, NSError(NSCocoaErrorDomain, NSCoderReadCorruptError,
                            {{NSDebugDescriptionErrorKey, "root object did not decode to a '" +
                                                              T::classObject().name() + "'"}}));
  }
  return typed;
}

} // namespace platform::archive
