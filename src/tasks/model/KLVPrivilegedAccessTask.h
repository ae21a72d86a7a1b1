#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/UUID.h"
#include "tasks/model/KLVResultObject.h"

#include <string>

namespace platform::archive {
class KeyedUnarchiver;
}

namespace tasks {

// A small self-describing command object: the client archives one, the agent unarchives it and
// runs `perform` as root. The archive holds "uuid" plus the subclass's own keys; the identifier
// is implied by the class and never archived.
//
// The base is abstract: its `identifier` and `perform` throw std::logic_error ("Abstract
// method: ..."). It is not registered for decoding, so an archive can never name it.
class KLVPrivilegedAccessTask : public platform::archive::Object {
public:
  KLVPrivilegedAccessTask() = default; // a fresh random UUID
  explicit KLVPrivilegedAccessTask(platform::UUID uuid) : uuid_(uuid) {}

  static const platform::archive::ObjectClass& classObject();

  const platform::UUID& uuid() const { return uuid_; }
  void setUuid(platform::UUID uuid) { uuid_ = uuid; }

  virtual std::string identifier() const;
  // Runs the task synchronously on the calling thread. Ordinary failures travel inside the
  // result; nothing but the abstract base throws.
  virtual ResultPtr perform();

  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  // Equal when `other` is of this class (or a subclass) and the UUIDs match.
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override { return std::hash<platform::UUID>()(uuid_); }

protected:
  // The archived UUID; none when it is missing (the subclass then declines to decode).
  static std::optional<platform::UUID> decodeUUID(platform::archive::KeyedUnarchiver& coder);

private:
  platform::UUID uuid_;
};

} // namespace tasks
