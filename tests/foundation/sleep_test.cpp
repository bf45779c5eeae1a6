#include <gtest/gtest.h>

#include <hbr_platform_sleep.h>

#include <thread>

TEST(SleepScale, DividesLongSleepsOnly)
{
    EXPECT_EQ(3u, hbrSleepScaledDuration(3000, "1000"));
    EXPECT_EQ(1500u, hbrSleepScaledDuration(3000, "2"));
    EXPECT_EQ(999u, hbrSleepScaledDuration(999, "1000"));
    EXPECT_EQ(50u, hbrSleepScaledDuration(50, "10"));
    EXPECT_EQ(1u, hbrSleepScaledDuration(1000, "1000"));
}

TEST(SleepScale, InvalidDivisorMeansOne)
{
    EXPECT_EQ(3000u, hbrSleepScaledDuration(3000, nullptr));
    EXPECT_EQ(3000u, hbrSleepScaledDuration(3000, "0"));
    EXPECT_EQ(3000u, hbrSleepScaledDuration(3000, "abc"));
    EXPECT_EQ(3000u, hbrSleepScaledDuration(3000, "-4"));
    EXPECT_EQ(3000u, hbrSleepScaledDuration(3000, ""));
    EXPECT_EQ(3000u, hbrSleepScaledDuration(3000, "7x"));
}

TEST(LastError, IsPerThread)
{
    SetLastError(87);
    DWORD seenByOther = 1;
    std::thread other([&] { seenByOther = GetLastError(); SetLastError(5); });
    other.join();
    EXPECT_EQ(0u, seenByOther);
    EXPECT_EQ(87u, GetLastError());
}
