#pragma once

#include "platform/archive/Object.h"

namespace platform::archive {

// An open file descriptor as an archived object. The platform's keyed archives cannot carry
// descriptors, so this is our extension: the archive holds {"NS.descriptorIndex": integer},
// an index into the side list of descriptors that travels with the archive (over a Unix socket
// as SCM_RIGHTS). Encoding adds the descriptor to the archiver's list; decoding duplicates
// the descriptor at that index from the list the unarchiver was given.
class NSFileHandle final : public Object {
public:
  // Takes ownership of `descriptor`; the handle closes it when destroyed.
  explicit NSFileHandle(int descriptor) : descriptor_(descriptor) {}
  ~NSFileHandle() override;
  NSFileHandle(const NSFileHandle&) = delete;
  NSFileHandle& operator=(const NSFileHandle&) = delete;

  static std::shared_ptr<NSFileHandle> make(int descriptor);
  static const ObjectClass& classObject();

  int fileDescriptor() const { return descriptor_; }
  // Hands the descriptor to the caller, who then closes it; the handle holds -1.
  int releaseFileDescriptor();

  const ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(KeyedArchiver& coder) const override;

private:
  int descriptor_;
};

} // namespace platform::archive
