#include "platform/archive/FileHandle.h"

#include "platform/archive/ArchiveErrors.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform::archive {

NSFileHandle::~NSFileHandle() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
  }
}

std::shared_ptr<NSFileHandle> NSFileHandle::make(int descriptor) {
  return std::make_shared<NSFileHandle>(descriptor);
}

int NSFileHandle::releaseFileDescriptor() {
  const int descriptor = descriptor_;
  descriptor_ = -1;
  return descriptor;
}

const ObjectClass& NSFileHandle::classObject() {
  static const ObjectClass objectClass(
      "NSFileHandle", nullptr, true, [](KeyedUnarchiver& coder) -> ObjectPtr {
        if (!coder.containsValueForKey("NS.descriptorIndex")) {
          coder.failWithError(
              readCorruptError("cannot decode NSFileHandle: \"NS.descriptorIndex\" is missing"));
          return nullptr;
        }
        const int64_t index = coder.decodeInt64ForKey("NS.descriptorIndex");
        const int descriptor = coder.fileDescriptorAtIndex(index);
        if (coder.error()) {
          return nullptr;
        }
        if (descriptor < 0) {
          coder.failWithError(readCorruptError(
              "cannot decode NSFileHandle: no descriptor at index " + std::to_string(index)));
          return nullptr;
        }
        const int duplicate = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        if (duplicate < 0) {
          coder.failWithError(NSError::posix(errno));
          return nullptr;
        }
        return make(duplicate);
      });
  return objectClass;
}

void NSFileHandle::encodeWithCoder(KeyedArchiver& coder) const {
  if (descriptor_ < 0) {
    coder.failWithError(invalidValueError("cannot encode a file handle that has no descriptor"));
    return;
  }
  coder.encodeInt64(coder.encodeFileDescriptor(descriptor_), "NS.descriptorIndex");
}

} // namespace platform::archive
