#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace ipc {

// Handlers by request type name, behind a recursive lock. A second registration under a name
// replaces the first.
template <class Handler> class RequestHandlerRegistry {
public:
  void registerHandler(std::shared_ptr<Handler> handler, const std::string& requestTypeName) {
    std::lock_guard lock(lock_);
    handlersByRequestType_[requestTypeName] = std::move(handler);
  }
  void removeHandler(const std::string& requestTypeName) {
    std::lock_guard lock(lock_);
    handlersByRequestType_.erase(requestTypeName);
  }
  // The handler stored under exactly `name`, or null.
  std::shared_ptr<Handler> handler(const std::string& name) const {
    std::lock_guard lock(lock_);
    auto found = handlersByRequestType_.find(name);
    return found == handlersByRequestType_.end() ? nullptr : found->second;
  }

private:
  mutable std::recursive_mutex lock_;
  std::map<std::string, std::shared_ptr<Handler>, std::less<>> handlersByRequestType_;
};

} // namespace ipc
