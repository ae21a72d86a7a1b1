#pragma once

#include "platform/archive/Object.h"
#include "platform/foundation/Date.h"
#include "tasks/model/KLVCronjobRecord.h"

#include <memory>
#include <optional>
#include <string>

namespace tasks {

// A cron job with its owner: the crontab's user, the parsed line and the crontab file's
// modification date. Archived as "userName" and "cronjobRecord" (both required) and
// "lastModificationDate".
class KLVCronjob final : public platform::archive::Object {
public:
  KLVCronjob(std::string userName, std::shared_ptr<const KLVCronjobRecord> cronjobRecord,
             std::optional<platform::Date> lastModificationDate = std::nullopt)
      : userName_(std::move(userName)), cronjobRecord_(std::move(cronjobRecord)),
        lastModificationDate_(lastModificationDate) {}

  static const platform::archive::ObjectClass& classObject();

  const std::string& userName() const { return userName_; }
  const KLVCronjobRecord& cronjobRecord() const { return *cronjobRecord_; }
  const std::optional<platform::Date>& lastModificationDate() const {
    return lastModificationDate_;
  }
  // Whether the job runs as root.
  bool isUnderAdminPrivilege() const { return userName_ == "root"; }

  const platform::archive::ObjectClass& objectClass() const override { return classObject(); }
  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override;
  bool isEqual(const platform::archive::Object& other) const override;
  size_t hash() const override;
  std::string description() const override { return userName_ + ": " + cronjobRecord_->source(); }

private:
  std::string userName_;
  std::shared_ptr<const KLVCronjobRecord> cronjobRecord_; // never null
  std::optional<platform::Date> lastModificationDate_;
};

} // namespace tasks
