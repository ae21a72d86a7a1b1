#pragma once

#include "platform/foundation/URL.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"

#include <cstdint>

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessEnumeratorTaskIdentifier =
    "kKLVPrivilegedAccessEnumeratorTaskIdentifier";

// Walks a folder tree as root and returns one KLVPrivilegedURL per file (and, when asked, per
// folder). Symbolic links and ".DS_Store" files are never returned. Archived "rootURL",
// "shouldCollectDirectory" and "maxEnumerationDepth"; a depth of 0 does not decode.
class KLVPrivilegedAccessEnumeratorTask final : public KLVPrivilegedAccessTask {
public:
  KLVPrivilegedAccessEnumeratorTask(platform::URL rootURL, bool shouldCollectDirectory,
                                    uint64_t maxEnumerationDepth)
      : rootURL_(std::move(rootURL)), shouldCollectDirectory_(shouldCollectDirectory),
        maxEnumerationDepth_(maxEnumerationDepth) {}
  KLVPrivilegedAccessEnumeratorTask(platform::UUID uuid, platform::URL rootURL,
                                    bool shouldCollectDirectory, uint64_t maxEnumerationDepth)
      : KLVPrivilegedAccessTask(uuid), rootURL_(std::move(rootURL)),
        shouldCollectDirectory_(shouldCollectDirectory), maxEnumerationDepth_(maxEnumerationDepth) {
  }
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  const platform::URL& rootURL() const { return rootURL_; }
  bool shouldCollectDirectory() const { return shouldCollectDirectory_; }
  uint64_t maxEnumerationDepth() const { return maxEnumerationDepth_; }

  std::string identifier() const override { return kKLVPrivilegedAccessEnumeratorTaskIdentifier; }
  ResultPtr perform() override;

  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;

private:
  platform::URL rootURL_;
  bool shouldCollectDirectory_;
  uint64_t maxEnumerationDepth_;
};

} // namespace tasks
