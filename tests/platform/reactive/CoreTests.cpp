#include "platform/reactive/Cancellable.h"
#include "platform/reactive/Demand.h"

#include <gtest/gtest.h>
#include <limits>

using namespace platform::reactive;

TEST(Demand, ArithmeticSaturates) {
  constexpr auto largest = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(Demand::max(largest) + Demand::max(1), Demand::unlimited());
  EXPECT_EQ(Demand::max(2) + Demand::unlimited(), Demand::unlimited());
  EXPECT_EQ(Demand::max(2) + Demand::max(3), Demand::max(5));
  EXPECT_EQ(Demand::unlimited() - Demand::max(5), Demand::unlimited());
  EXPECT_EQ(Demand::max(3) - Demand::max(5), Demand::none());
  EXPECT_EQ(Demand::max(3) - Demand::unlimited(), Demand::none());
  EXPECT_EQ(Demand::max(0), Demand::none());
  EXPECT_TRUE(Demand::none().isNone());
  EXPECT_TRUE(Demand::unlimited() > Demand::max(largest));
  EXPECT_TRUE(Demand::none() < Demand::max(1));
  EXPECT_EQ(Demand::unlimited().count(), largest);
}

TEST(AnyCancellable, CancelsOnceWhenCancelledOrDestroyed) {
  int cancels = 0;
  {
    AnyCancellable cancellable([&] { ++cancels; });
    cancellable.cancel();
    cancellable.cancel();
  }
  EXPECT_EQ(cancels, 1);

  {
    CancellableSet bag;
    AnyCancellable([&] { ++cancels; }).store(bag);
    AnyCancellable([&] { ++cancels; }).store(bag);
    EXPECT_EQ(bag.size(), 2u);
    EXPECT_EQ(cancels, 1);
  }
  EXPECT_EQ(cancels, 3);

  AnyCancellable first([&] { ++cancels; });
  first = AnyCancellable([&] { cancels += 10; }); // replacing cancels the old one
  EXPECT_EQ(cancels, 4);
}
