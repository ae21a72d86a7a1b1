#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ipc {

// The framework's only way to log: one replaceable process-wide handler, absent by default, so
// that a program that installs none pays nothing and sees nothing. Message texts are built only
// when the handler asks for them.
struct Logger {
  Logger() = delete;

  enum class Level { error, info, debug };

  using MessageBuilder = std::function<std::string()>;
  using Handler = std::function<void(Level, const MessageBuilder&)>;

  static std::string_view rawValue(Level level);
  // "error", "info" or "debug"; none for any other text.
  static std::optional<Level> levelFromRawValue(std::string_view rawValue);

  // Installs `handler`; an empty function removes it. Install before the framework starts.
  static void setHandler(Handler handler);
  static void removeHandler() { setHandler(nullptr); }
  // The installed handler, or null.
  static std::shared_ptr<const Handler> handler();

  // Calls the handler, if one is installed, with `level` and `build` as the message function.
  template <class Build> static void log(Level level, Build&& build) {
    std::shared_ptr<const Handler> current = handler();
    if (!current) {
      return;
    }
    (*current)(level, MessageBuilder(std::forward<Build>(build)));
  }
  template <class Build> static void error(Build&& build) {
    log(Level::error, std::forward<Build>(build));
  }
  template <class Build> static void info(Build&& build) {
    log(Level::info, std::forward<Build>(build));
  }
  template <class Build> static void debug(Build&& build) {
    log(Level::debug, std::forward<Build>(build));
  }
};

} // namespace ipc
