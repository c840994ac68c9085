#include "model/Time.h"

#include <gtest/gtest.h>

TEST(TimeTest, StartIncreaseAndRestart) {
  EXPECT_EQ(0.0, Time::start());
  Time::increase();
  Time::increase();
  EXPECT_EQ(3.0, Time::increase());
  EXPECT_EQ(3.0, Time::getTime());
  EXPECT_EQ(0.0, Time::start());
  EXPECT_EQ(0.0, Time::getTime());
}
