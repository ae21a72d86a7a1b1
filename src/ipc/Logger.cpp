#include "ipc/Logger.h"

#include <atomic>

namespace ipc {
namespace {

// Read from any thread; the flag spares the common case (no handler) the shared pointer's lock.
std::atomic<bool> handlerInstalled{false};
std::atomic<std::shared_ptr<const Logger::Handler>> installedHandler;

} // namespace

std::string_view Logger::rawValue(Level level) {
  switch (level) {
  case Level::error:
    return "error";
  case Level::info:
    return "info";
  case Level::debug:
    return "debug";
  }
  return "error";
}

std::optional<Logger::Level> Logger::levelFromRawValue(std::string_view rawValue) {
  if (rawValue == "error") {
    return Level::error;
  }
  if (rawValue == "info") {
    return Level::info;
  }
  if (rawValue == "debug") {
    return Level::debug;
  }
  return std::nullopt;
}

void Logger::setHandler(Handler handler) {
  if (!handler) {
    handlerInstalled.store(false);
    installedHandler.store(nullptr);
    return;
  }
  installedHandler.store(std::make_shared<const Handler>(std::move(handler)));
  handlerInstalled.store(true);
}

std::shared_ptr<const Logger::Handler> Logger::handler() {
  if (!handlerInstalled.load(std::memory_order_acquire)) {
    return nullptr;
  }
  return installedHandler.load();
}

} // namespace ipc
