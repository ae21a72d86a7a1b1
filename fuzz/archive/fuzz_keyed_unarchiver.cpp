// Secure unarchiving of arbitrary bytes with a small registered class hierarchy. Whatever
// decodes is archived again, so the writer also sees every value the reader can produce.

#include "TestClasses.h"
#include "platform/archive/ErrorObject.h"
#include "platform/archive/FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <unistd.h>

using namespace platform;
using namespace platform::archive;

namespace {

const std::vector<ClassSet>& allowedSets() {
  static const std::vector<ClassSet> sets = {
      {&archive_test::TestBaseTask::classObject()},
      {&NSArray::classObject(), &NSString::classObject()},
      {&NSDictionary::classObject(), &NSArray::classObject(), &NSString::classObject(),
       &NSNumber::classObject(), &NSErrorObject::classObject(), &NSFileHandle::classObject()},
      {&ObjectClass::NSObject()},
  };
  return sets;
}

int devNull() {
  static const int descriptor = ::dup(STDIN_FILENO);
  return descriptor;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UnarchiveOptions options = archive_test::testOptions();
  const int descriptors[] = {devNull()};
  options.fileDescriptors = descriptors;
  const std::span<const uint8_t> bytes(data, size);
  const auto& sets = allowedSets();
  // The last byte (part of the trailer's offset-table position) picks the allowed classes;
  // the archive is the whole input either way.
  const ClassSet& allowed = sets[size > 0 ? data[size - 1] % sets.size() : 0];
  NSError error;
  ObjectPtr object = unarchivedObjectOfClasses(allowed, bytes, &error, options);
  if (object == nullptr) {
    return 0;
  }
  (void)object->description();
  std::vector<int> written;
  auto archived = archivedDataWithRootObject(object, false, &error, &written);
  if (archived) {
    NSError again;
    ObjectPtr copy = unarchivedObjectOfClasses({&ObjectClass::NSObject()}, *archived, &again,
                                               archive_test::testOptions());
    (void)copy;
  }
  return 0;
}
