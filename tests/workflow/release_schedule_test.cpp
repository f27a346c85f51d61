// The polls of an auto-booking with a release time, against a simulated portal
// whose clock runs apart from ours.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <map>
#include <optional>
#include <vector>

#include "workflow/release_schedule.h"

namespace quilora {
namespace {

using Clock = std::chrono::system_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A portal whose clock is `offset` ahead of ours, `roundTrip` away: it stamps
// each answer with the whole second of its clock when the request arrives.
struct SimulatedPortal {
    milliseconds offset;
    milliseconds roundTrip;
    // A Date that lies: stuck at this moment, or running at this rate (1: true).
    std::optional<Clock::time_point> frozenAt{};
    double dateRate = 1;

    Clock::time_point Arrival(Clock::time_point sent) const { return sent + roundTrip / 2 + offset; }
    void Answer(PortalClock& clock, Clock::time_point sent) const {
        Clock::time_point date = Arrival(sent);
        if (frozenAt)
            date = *frozenAt;
        else if (dateRate != 1)
            date = kEpoch + std::chrono::duration_cast<Clock::duration>((date - kEpoch) * dateRate);
        clock.Add(sent, sent + roundTrip, std::chrono::floor<seconds>(date));
    }
    static inline const Clock::time_point kEpoch = std::chrono::sys_days{std::chrono::year{2026} / 12 / 14};
};

struct PollRun {
    std::vector<Clock::time_point> arrivals; // on the portal's clock
    Clock::time_point landed;                // the first arrival at or after the release
};

// Polls as the schedule says from `armed` (local) until one reaches the portal after the release.
PollRun Simulate(const SimulatedPortal& portal, const ReleaseSchedule& schedule, Clock::time_point armed) {
    PortalClock clock;
    PollRun run;
    Clock::time_point now = armed + milliseconds(800); // the first tick after arming
    for (int polls = 0; polls < 10000; ++polls) {
        const Clock::time_point arrival = portal.Arrival(now);
        run.arrivals.push_back(arrival);
        if (arrival >= schedule.release) {
            run.landed = arrival;
            return run;
        }
        portal.Answer(clock, now);
        const Clock::time_point next =
            schedule.NextPoll(clock, now + portal.roundTrip, portal.roundTrip, now);
        EXPECT_GE(next - now, ReleaseSchedule::kCadence) << "poll " << polls;
        now = next;
    }
    ADD_FAILURE() << "never reached the release";
    return run;
}

Clock::time_point At(int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 14;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&t));
}

// One poll reaches the portal 20 to 50 ms after the release on its clock,
// whatever the offset, once the clock has been watched for a while.
TEST(ReleaseSchedule, OnePollLandsJustAfterTheReleaseOnThePortalsClock) {
    struct Case {
        milliseconds offset, roundTrip;
        seconds armedBefore;
    } cases[] = {
        {milliseconds(1300), milliseconds(2), seconds(300)},
        {milliseconds(1300), milliseconds(40), seconds(300)},
        {milliseconds(-250), milliseconds(2), seconds(300)},
        {milliseconds(59900), milliseconds(10), seconds(600)},
        {milliseconds(1300), milliseconds(2), seconds(40)},
        {milliseconds(-777), milliseconds(20), seconds(45)},
        {milliseconds(1300), milliseconds(2), seconds(15)},
        {milliseconds(420), milliseconds(2), seconds(12)},
    };
    const Clock::time_point release = At(8, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset.count()) + " ms, round trip " +
                     std::to_string(c.roundTrip.count()) + " ms, armed " +
                     std::to_string(c.armedBefore.count()) + " s before");
        const SimulatedPortal portal{c.offset, c.roundTrip};
        const PollRun run = Simulate(portal, ReleaseSchedule{release}, release - c.offset - c.armedBefore);
        const auto after = std::chrono::duration_cast<milliseconds>(run.landed - release);
        EXPECT_GE(after.count(), 20);
        EXPECT_LE(after.count(), 50);
    }
}

// Until a minute before the release at most two polls a minute; after it about
// one every 800 ms.
TEST(ReleaseSchedule, SlowUntilAMinuteBeforeThenTheCadence) {
    const Clock::time_point release = At(8, 0, 0);
    const SimulatedPortal portal{milliseconds(1300), milliseconds(2)};
    const PollRun run =
        Simulate(portal, ReleaseSchedule{release}, release - portal.offset - std::chrono::minutes(20));
    std::map<long, int> perMinute; // minutes before the release -> polls
    std::vector<milliseconds> lastMinuteGaps;
    for (std::size_t i = 0; i < run.arrivals.size(); ++i) {
        const auto before = release - run.arrivals[i];
        if (before > seconds(60)) {
            ++perMinute[std::chrono::duration_cast<std::chrono::minutes>(before).count()];
        } else if (i > 0 && release - run.arrivals[i - 1] <= seconds(60)) {
            lastMinuteGaps.push_back(
                std::chrono::duration_cast<milliseconds>(run.arrivals[i] - run.arrivals[i - 1]));
        }
    }
    ASSERT_GE(perMinute.size(), 18u);
    for (const auto& [minute, polls] : perMinute)
        EXPECT_LE(polls, 2) << minute << " minutes before";

    ASSERT_GT(lastMinuteGaps.size(), 60u);
    // The last steps before the aligned poll keep to the cadence exactly.
    for (std::size_t i = lastMinuteGaps.size() - 6; i < lastMinuteGaps.size(); ++i)
        EXPECT_EQ(lastMinuteGaps[i], milliseconds(800));
    // Never closer than 800 ms; a probe of the second's change may come up to a second late.
    for (const milliseconds gap : lastMinuteGaps) {
        EXPECT_GE(gap, milliseconds(800));
        EXPECT_LE(gap, milliseconds(1800));
    }
}

// A Date that is frozen or runs at half speed is soon not trusted; whatever it
// says, polls stay 800 ms apart at least, and slow until the last minute by
// the local clock.
TEST(ReleaseSchedule, ALyingDateNeitherRaisesTheRateNorLosesTheRelease) {
    const Clock::time_point release = At(8, 0, 0);
    struct Case {
        const char* name;
        std::optional<Clock::time_point> frozenAt{};
        double rate;
    } cases[] = {
        {"frozen 61 s before", release - seconds(61), 1},
        {"half speed", std::nullopt, 0.5},
        {"double speed", std::nullopt, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedPortal portal{milliseconds(0), milliseconds(2)};
        portal.frozenAt = c.frozenAt;
        portal.dateRate = c.rate;
        const PollRun run = Simulate(portal, ReleaseSchedule{release}, release - std::chrono::minutes(5));
        // A Date running ahead says at first that the release has passed: a few
        // polls at the cadence, until the clock is found out.
        int slow = 0;
        for (std::size_t i = 0; i < run.arrivals.size(); ++i) {
            if (release - run.arrivals[i] > seconds(62) && run.arrivals[i] - run.arrivals[0] > seconds(10))
                ++slow;
            if (i > 0) {
                EXPECT_GE(run.arrivals[i] - run.arrivals[i - 1], milliseconds(800)) << "poll " << i;
            }
        }
        EXPECT_LE(slow, 8) << "about 4 minutes at two a minute";
        EXPECT_LE(run.landed - release, milliseconds(850)) << "the release is still caught within a tick";
    }
}

TEST(ReleaseSchedule, TheTicksAfterTheAlignedPollGoOnEvery800Ms) {
    const Clock::time_point release = At(8, 0, 0);
    PortalClock clock;
    const SimulatedPortal portal{milliseconds(0), milliseconds(2)};
    for (int i = 0; i < 40; ++i)
        portal.Answer(clock, release - seconds(200) + milliseconds(977) * i);
    const ReleaseSchedule schedule{release};
    const Clock::time_point aligned = schedule.AlignedPoll(clock, portal.roundTrip);
    EXPECT_EQ(schedule.NextPoll(clock, aligned, portal.roundTrip), aligned + milliseconds(800));
    EXPECT_EQ(schedule.NextPoll(clock, aligned + milliseconds(900), portal.roundTrip),
              aligned + milliseconds(1600));
}

TEST(ReleaseMoment, TodayOrTomorrowOnThePortalsClock) {
    const Clock::time_point noon = At(12, 0, 0);
    struct Case {
        const char* text;
        bool valid;
        Clock::time_point expected;
    } cases[] = {
        {"13:30", true, At(13, 30, 0)},
        {"13:30:15", true, At(13, 30, 15)},
        {"08:00:00", true, At(8, 0, 0) + std::chrono::hours(24)}, // past: tomorrow
        {"12:00:00", true, At(12, 0, 0) + std::chrono::hours(24)},
        {"24:00", false, {}},
        {"8", false, {}},
        {"08:60", false, {}},
        {"08:00:", false, {}},
        {"08:00x", false, {}},
        {"08:00:00:00", false, {}},
        {"08:000", false, {}},
        {"", false, {}},
        // two digits each, nothing signed or shortened
        {"8:05", false, {}},
        {"1:2", false, {}},
        {"08:0", false, {}},
        {"-1:-5", false, {}},
        {"0:-0", false, {}},
        {"+8:05", false, {}},
        {"08:05:-1", false, {}},
        {"00:00", true, At(0, 0, 0) + std::chrono::hours(24)},
        {"23:59:59", true, At(23, 59, 59)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto at = ReleaseMoment(c.text, noon);
        ASSERT_EQ(at.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(*at, c.expected);
        }
    }
}

} // namespace
} // namespace quilora
