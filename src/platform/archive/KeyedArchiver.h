#pragma once

#include "platform/archive/BinaryPropertyListWriter.h"
#include "platform/archive/HashKeys.h"
#include "platform/archive/Object.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UUID.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace platform::archive {

// Writes an object graph in the platform's keyed-archive format: a binary property list with
// "$archiver" "NSKeyedArchiver", "$version" 100000, "$top" {"root": UID} and "$objects", where
// "$null" comes first, each object is a dictionary with "$class" and its keys, each class
// record is {"$classname", "$classes"}, and strings, numbers and data stand inline. Strings
// and numbers are shared by value, other objects by identity.
//
// `encodeWithCoder` implementations call the encode functions below; they write into the
// object being encoded. A failure (a class without secure coding when it is required, a graph
// nested too deeply, or `failWithError`) makes `finishEncoding` return the error.
class KeyedArchiver {
public:
  explicit KeyedArchiver(bool requiresSecureCoding);
  KeyedArchiver(const KeyedArchiver&) = delete;
  KeyedArchiver& operator=(const KeyedArchiver&) = delete;

  bool requiresSecureCoding() const { return requiresSecureCoding_; }

  // Encodes `object` (null writes the "$null" reference) under `key`.
  void encodeObject(const ObjectPtr& object, std::string_view key);
  void encodeBool(bool value, std::string_view key);
  void encodeInt32(int32_t value, std::string_view key) { encodeInt64(value, key); }
  void encodeInteger(int64_t value, std::string_view key) { encodeInt64(value, key); }
  void encodeInt64(int64_t value, std::string_view key);
  void encodeDouble(double value, std::string_view key);
  // Raw bytes stored inline under `key` (the platform's encodeBytes:length:forKey:).
  void encodeBytes(const Bytes& bytes, std::string_view key);

  // Shorthands that wrap a value in its standard class and encode it as an object.
  void encodeString(std::string_view value, std::string_view key);
  void encodeURL(const URL& value, std::string_view key);
  void encodeUUID(const UUID& value, std::string_view key);
  void encodeDate(const Date& value, std::string_view key);
  void encodeData(Bytes value, std::string_view key);

  // Encodes `objects` as an array of references under `key` (how collections store contents).
  void encodeArrayOfObjects(const std::vector<ObjectPtr>& objects, std::string_view key);

  // The object that stands for the shared value at `identity` in this archive, made by `make`
  // the first time. Lets encodeWithCoder wrap a value shared by pointer (an underlying error,
  // say) once, so that the archive shares it as well instead of writing one copy per use.
  ObjectPtr sharedObject(const void* identity, const std::function<ObjectPtr()>& make);

  // Adds `descriptor` to the side list of descriptors that travel with the archive and returns
  // its index there. The descriptor is borrowed: its owner must keep it open until it is sent.
  int64_t encodeFileDescriptor(int descriptor);

  // Makes encoding fail with `error` (the first failure wins).
  void failWithError(NSError error);
  const std::optional<NSError>& error() const { return error_; }

  // Encodes `root` and returns the archive bytes, or none with the error. Call once.
  std::optional<Bytes> finishEncoding(const ObjectPtr& root, NSError* error);
  // The descriptors collected while encoding, in index order.
  const std::vector<int>& fileDescriptors() const { return fileDescriptors_; }

private:
  uint64_t reference(const ObjectPtr& object);
  uint64_t inlineReference(const Object& object);
  // The entry of a string value, written once however often it occurs.
  uint64_t stringReference(std::string_view value);
  uint64_t classReference(const ObjectClass& objectClass);
  uint64_t append(uint32_t node);
  void set(std::string_view key, uint32_t node);

  bool requiresSecureCoding_;
  BinaryPropertyListWriter writer_;
  std::vector<uint32_t> objects_;  // the entries of "$objects"; a UID is a position here
  std::vector<uint32_t> encoding_; // the dictionaries of the objects being encoded, innermost last
  std::unordered_map<const Object*, uint64_t> objectReferences_;
  std::unordered_map<uint32_t, uint64_t> stringReferences_; // by the writer's string node
  std::unordered_map<std::tuple<size_t, int64_t, uint64_t>, uint64_t, NumberKeyHash>
      numberReferences_;
  std::unordered_map<const ObjectClass*, uint64_t> classReferences_;
  std::unordered_map<const void*, ObjectPtr> sharedObjects_;
  std::vector<ObjectPtr> retained_; // keeps temporaries from the shorthands alive
  std::vector<int> fileDescriptors_;
  std::optional<NSError> error_;
};

// Archives `root` (the platform's archivedDataWithRootObject:requiringSecureCoding:error:).
// `fileDescriptors`, when given, is set to the descriptors of the file handles in the graph
// (borrowed, in index order); archiving a file handle fails when it is null.
std::optional<Bytes> archivedDataWithRootObject(const ObjectPtr& root, bool requiringSecureCoding,
                                                NSError* error,
                                                std::vector<int>* fileDescriptors = nullptr);

} // namespace platform::archive
