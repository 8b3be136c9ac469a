#include <gtest/gtest.h>

#include <thread>

#include "serial/timers.h"

TEST(Timers, HasElapsedOfANegativeTimeIsNeverTrue) {
    MTimer t(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(t.has_elapsed(-1));
    EXPECT_TRUE(t.has_elapsed(0.004));
    EXPECT_FALSE(t.has_elapsed(60));
}

TEST(Timers, WaitLastsAtLeastItsTime) {
    CalcTimer t(false);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(t.wait(0.005), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
    EXPECT_GE(t.elapsed(), 0.005);
}

TEST(Timers, ElapsedFollowsTheClock) {
    CalcTimer t(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double a = t.elapsed();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double b = t.elapsed();
    EXPECT_GE(a, 0.05);
    EXPECT_GE(b - a, 0.1);
    EXPECT_LT(b - a, 2.0);
    EXPECT_TRUE(t.start());
    EXPECT_LT(t.elapsed(), b);
}
