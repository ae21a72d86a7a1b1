#pragma once

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/foundation/URL.h"
#include "tasks/model/KLVPrivilegedAccessTask.h"

#include <functional>

namespace tasks {

// The shared part of the tasks that act on one URL archived under "url": coding, equality and
// hash over the URL. Concrete tasks add their identifier, their class and `perform`.
class KLVURLTask : public KLVPrivilegedAccessTask {
public:
  explicit KLVURLTask(platform::URL url) : url_(std::move(url)) {}
  KLVURLTask(platform::UUID uuid, platform::URL url)
      : KLVPrivilegedAccessTask(uuid), url_(std::move(url)) {}

  const platform::URL& url() const { return url_; }

  void encodeWithCoder(platform::archive::KeyedArchiver& coder) const override {
    KLVPrivilegedAccessTask::encodeWithCoder(coder);
    coder.encodeURL(url_, "url");
  }
  bool isEqual(const platform::archive::Object& other) const override {
    return KLVPrivilegedAccessTask::isEqual(other) &&
           static_cast<const KLVURLTask&>(other).url_ == url_;
  }
  size_t hash() const override {
    return KLVPrivilegedAccessTask::hash() ^ std::hash<std::string>()(url_.absoluteString());
  }
  std::string description() const override {
    return "<" + objectClass().name() + " " + url_.absoluteString() + ">";
  }

protected:
  // Decodes "url" and "uuid" and builds the task with `make`; null when either is missing.
  template <class T>
  static platform::archive::ObjectPtr decodeURLTask(platform::archive::KeyedUnarchiver& coder) {
    auto url = coder.decodeURLForKey("url");
    if (!url) {
      return nullptr;
    }
    auto uuid = decodeUUID(coder);
    if (!uuid || coder.error()) {
      return nullptr;
    }
    return std::make_shared<T>(*uuid, std::move(*url));
  }

private:
  platform::URL url_;
};

} // namespace tasks
