#include "platform/loader/DynamicLoader.h"

#include <gtest/gtest.h>

namespace platform::loader {
namespace {

int symbolOfTheMainProgram = 0;

TEST(DynamicLoaderTest, ReadsSectionsOfTheImageThatHoldsASymbol) {
  auto comment = getSectionData(&symbolOfTheMainProgram, "__TEXT", ".comment", 1 << 20);
  ASSERT_TRUE(comment);
  EXPECT_FALSE(comment->empty());
  EXPECT_FALSE(getSectionData(&symbolOfTheMainProgram, "__TEXT", "__absent", 1 << 20));
  EXPECT_FALSE(getSectionData(&symbolOfTheMainProgram, "__TEXT", ".text", 16)); // too large
  EXPECT_FALSE(getSectionData(&symbolOfTheMainProgram, "__DATA", ".comment", 1 << 20));
  EXPECT_FALSE(getSectionData(nullptr, "__TEXT", ".comment", 1 << 20));
}

} // namespace
} // namespace platform::loader
