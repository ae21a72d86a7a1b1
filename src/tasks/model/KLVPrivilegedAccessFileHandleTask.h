#pragma once

#include "tasks/model/KLVURLTask.h"

#include <cstdint>

namespace tasks {

inline constexpr const char* kKLVPrivilegedAccessFileHandleTaskIdentifier =
    "kKLVPrivilegedAccessFileHandleTaskIdentifier";

// Opens a file as root and returns the open handle as the result's value. Archived "url" and
// "fileHandleType": 1 reading, 2 writing (neither created nor truncated), 3 updating; any other
// type fails with 100502. Only regular files are handed out: a folder's descriptor would let
// the client reach everything below it with root's rights.
class KLVPrivilegedAccessFileHandleTask final : public KLVURLTask {
public:
  enum FileHandleType : int64_t { reading = 1, writing = 2, updating = 3 };

  KLVPrivilegedAccessFileHandleTask(platform::URL url, int64_t fileHandleType)
      : KLVURLTask(std::move(url)), fileHandleType_(fileHandleType) {}
  KLVPrivilegedAccessFileHandleTask(platform::UUID uuid, platform::URL url, int64_t fileHandleType)
      : KLVURLTask(uuid, std::move(url)), fileHandleType_(fileHandleType) {}
  static const platform::archive::ObjectClass& classObject();
  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }

  int64_t fileHandleType() const { return fileHandleType_; }

  std::string identifier() const override { return kKLVPrivilegedAccessFileHandleTaskIdentifier; }
  ResultPtr perform() override;

  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override { return KLVURLTask::hash() ^ static_cast<size_t>(fileHandleType_); }

private:
  int64_t fileHandleType_;
};

} // namespace tasks
