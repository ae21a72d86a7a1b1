#pragma once

#include "platform/archive/Object.h"

#include <optional>
#include <string>

namespace tasks {

// One entry found by the enumerator task, sent back inside a result's value array.
class KLVPrivilegedURL final : public platform::archive::Object {
public:
  KLVPrivilegedURL(std::string originPath, std::optional<std::string> canonicalStandartizedPath,
                   bool isDirectory, bool isExecutable, bool isMachOBinary);

  static const platform::archive::ObjectClass& classObject();

  const std::string& originPath() const { return originPath_; }
  const std::optional<std::string>& canonicalStandartizedPath() const {
    return canonicalStandartizedPath_;
  }
  bool isDirectory() const { return isDirectory_; }
  bool isExecutable() const { return isExecutable_; }
  bool isMachOBinary() const { return isMachOBinary_; }

  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return originPath_; }

private:
  std::string originPath_;
  std::optional<std::string> canonicalStandartizedPath_;
  bool isDirectory_;
  bool isExecutable_;
  bool isMachOBinary_;
};

} // namespace tasks
