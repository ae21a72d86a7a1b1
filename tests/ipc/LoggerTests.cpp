#include "ipc/Logger.h"

#include <gtest/gtest.h>
#include <vector>

namespace ipc {
namespace {

class LoggerTest : public ::testing::Test {
protected:
  void TearDown() override { Logger::removeHandler(); }
};

TEST_F(LoggerTest, NoHandlerBuildsNoMessage) {
  bool built = false;
  Logger::error([&] {
    built = true;
    return std::string("text");
  });
  EXPECT_FALSE(built);
  EXPECT_EQ(Logger::handler(), nullptr);
}

TEST_F(LoggerTest, HandlerDecidesWhichTextsAreBuilt) {
  std::vector<std::string> lines;
  Logger::setHandler([&](Logger::Level level, const Logger::MessageBuilder& message) {
    if (level != Logger::Level::debug) {
      lines.push_back(std::string(Logger::rawValue(level)) + ": " + message());
    }
  });
  int debugBuilds = 0;
  Logger::debug([&] {
    ++debugBuilds;
    return std::string("noise");
  });
  Logger::info([] { return std::string("accepted"); });
  EXPECT_EQ(debugBuilds, 0);
  EXPECT_EQ(lines, std::vector<std::string>{"info: accepted"});

  Logger::removeHandler();
  Logger::error([&] { return std::string("dropped"); });
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(LoggerTest, LevelsFromRawValues) {
  EXPECT_EQ(Logger::levelFromRawValue("info"), Logger::Level::info);
  EXPECT_EQ(Logger::levelFromRawValue("error"), Logger::Level::error);
  EXPECT_EQ(Logger::levelFromRawValue("debug"), Logger::Level::debug);
  EXPECT_EQ(Logger::levelFromRawValue("Info"), std::nullopt);
  EXPECT_EQ(Logger::levelFromRawValue("fault"), std::nullopt);
}

} // namespace
} // namespace ipc
