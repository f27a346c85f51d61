#include <gtest/gtest.h>

#include <chrono>

#include "common/stamp.h"

namespace quilora {
namespace {

struct ClockCase {
    LocalTime at;
    const char* stamp;
};

class StampTest : public ::testing::TestWithParam<ClockCase> {
protected:
    void TearDown() override { SetLocalClock(nullptr); }
};

// The day-fraction arithmetic comes out one below the exact count at midnight;
// an exact integer computation would give ...400 and fail here.
TEST_P(StampTest, ReproducesDayFractionArithmetic) {
    const LocalTime at = GetParam().at;
    SetLocalClock([at] { return at; });
    EXPECT_EQ(EpochMillis(), GetParam().stamp);
}

INSTANTIATE_TEST_SUITE_P(KnownMoments, StampTest,
                         ::testing::Values(ClockCase{{2010, 1, 1, 0, 0, 0, 0}, "1262304086399"},
                                           ClockCase{{2011, 3, 15, 8, 30, 0, 123}, "1300177886522"}));

// Away from the two known moments: the calendar arithmetic (leap years, month
// lengths) checked against an exact count; the day fractions may only lose
// the last millisecond.
TEST(StampCalendar, WithinOneMillisecondOfExactCount) {
    using namespace std::chrono;
    const LocalTime moments[] = {
        {1970, 1, 1, 0, 0, 0, 0},        {1999, 12, 31, 23, 59, 59, 999}, {2000, 2, 29, 12, 0, 0, 0},
        {2000, 3, 1, 0, 0, 0, 1},        {2023, 2, 28, 23, 59, 59, 999},  {2024, 2, 29, 6, 7, 8, 9},
        {2024, 12, 31, 23, 59, 59, 999}, {2100, 3, 1, 0, 0, 0, 500},
    };
    for (const LocalTime& t : moments) {
        const auto day = sys_days(year(t.year) / t.month / t.day);
        const auto exact = (day + hours(t.hour) + minutes(t.minute) + seconds(t.second) +
                            milliseconds(t.millisecond) + milliseconds(86400))
                               .time_since_epoch();
        const std::int64_t want = duration_cast<milliseconds>(exact).count();
        const std::int64_t got = EpochMillisValue(t);
        EXPECT_TRUE(got == want || got == want - 1)
            << t.year << "-" << t.month << "-" << t.day << ": " << got << " vs " << want;
    }
}

TEST(StampClock, NullRestoresSystemClockAndStampTracksIt) {
    SetLocalClock([] { return LocalTime{2010, 1, 1, 0, 0, 0, 0}; });
    SetLocalClock(nullptr);
    const LocalTime now = CurrentLocalTime();
    EXPECT_GE(now.year, 2020);
    const std::int64_t a = EpochMillisValue(now);
    const std::int64_t b = std::stoll(EpochMillis());
    EXPECT_GE(b, a);
    EXPECT_LT(b - a, 60'000);
}

} // namespace
} // namespace quilora
