// The portal clock estimate on simulated polls of a portal whose clock is off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "net/fetcher.h"
#include "workflow/portal_clock.h"

namespace quilora {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Clock = std::chrono::system_clock;

struct Exchange {
    Clock::time_point sent;
    Clock::time_point answered;
    Clock::time_point date;
};

// Auto-booking polls against a portal whose clock runs `offset` ahead of ours.
// The timer ticks every 800 ms but is coarse (a tick may come 40 ms early or
// late); the portal stamps each answer at a random moment of the round trip.
class SimulatedPortal {
public:
    SimulatedPortal(milliseconds offset, milliseconds roundTrip) : offset_(offset), roundTrip_(roundTrip) {}

    void SetOffset(Clock::duration offset) { offset_ = offset; }
    // The portal's clock and ours set by the given amounts.
    void Step(Clock::duration portal, Clock::duration local) {
        offset_ += portal - local;
        tick_ += local;
    }
    Clock::duration Offset() const { return offset_; }

    Exchange Poll() {
        tick_ += 800ms + milliseconds(static_cast<int>(rng_() % 81) - 40);
        const auto stamped = tick_ + std::chrono::microseconds(rng_() % (Micros(roundTrip_) + 1));
        return {tick_, tick_ + roundTrip_, std::chrono::floor<std::chrono::seconds>(stamped + offset_)};
    }
    void Idle(Clock::duration gap) { tick_ += gap; }

private:
    static std::uint32_t Micros(milliseconds d) { return static_cast<std::uint32_t>(d.count() * 1000); }

    Clock::duration offset_;
    milliseconds roundTrip_;
    // Not on a second boundary, so that the first polls start at an odd phase.
    Clock::time_point tick_ = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + 7h + 59min + 123457us;
    std::mt19937 rng_{20240301};
};

void Add(PortalClock& clock, const Exchange& e) {
    clock.Add(e.sent, e.answered, e.date);
}

// How far the estimate's interval misses the true offset; zero when it brackets it.
Clock::duration Miss(const PortalClock& clock, Clock::duration truth) {
    const Clock::duration low = clock.Offset() - clock.Uncertainty();
    const Clock::duration high = clock.Offset() + clock.Uncertainty();
    return truth < low ? low - truth : truth > high ? truth - high : Clock::duration(0);
}

TEST(PortalClock, NarrowsTowardsTheRoundTripAndAlwaysBracketsTheOffset) {
    // After n polls at spread phases the nearest second changes on either side
    // are about 1 s / n away, so half the interval is about half the round trip
    // plus 1 s / n: some 50 ms after 20 polls, 7 ms (and drift slack) after 150.
    // The bounds leave room for unlucky phases.
    const milliseconds offsets[] = {1300ms, -250ms, 0ms, 59900ms};
    const milliseconds roundTrips[] = {2ms, 40ms};
    for (const milliseconds offset : offsets) {
        for (const milliseconds roundTrip : roundTrips) {
            SCOPED_TRACE(testing::Message()
                         << "offset " << offset.count() << " ms, round trip " << roundTrip.count() << " ms");
            SimulatedPortal portal(offset, roundTrip);
            PortalClock clock;
            for (int poll = 1; poll <= 150; ++poll) {
                Add(clock, portal.Poll());
                ASSERT_EQ(Miss(clock, offset), 0ms) << "poll " << poll;
                if (poll == 20) {
                    EXPECT_LE(clock.Uncertainty(), roundTrip / 2 + 120ms);
                }
            }
            EXPECT_LE(clock.Uncertainty(), roundTrip / 2 + 40ms);
        }
    }
}

TEST(PortalClock, FollowsAClockThatSteps) {
    // A step of a second or more contradicts nearly every later answer; one of
    // half a second shows with about even odds per poll.
    struct Case {
        const char* what;
        milliseconds offset;
        milliseconds portalStep;
        milliseconds localStep;
        int settlePolls;
    } cases[] = {
        {"portal set two seconds back", 1300ms, -2000ms, 0ms, 1},
        {"portal set half a second forward", -250ms, 500ms, 0ms, 10},
        {"local clock set an hour back", 1300ms, 0ms, -3600000ms, 1},
        {"local clock set a second forward", 59900ms, 0ms, 1000ms, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedPortal portal(c.offset, 40ms);
        PortalClock clock;
        for (int poll = 0; poll < 40; ++poll)
            Add(clock, portal.Poll());
        ASSERT_EQ(Miss(clock, c.offset), 0ms);
        ASSERT_LE(clock.Uncertainty(), 100ms);

        portal.Step(c.portalStep, c.localStep);
        const milliseconds after = c.offset + c.portalStep - c.localStep;
        for (int poll = 1; poll <= 40; ++poll) {
            Add(clock, portal.Poll());
            if (poll >= c.settlePolls) {
                ASSERT_EQ(Miss(clock, after), 0ms) << "poll " << poll << " after the step";
            }
        }
        EXPECT_LE(clock.Uncertainty(), 100ms);
    }
}

TEST(PortalClock, FollowsSlowDrift) {
    // 80 ppm either way, more than most clocks drift: the true offset stays
    // inside the interval throughout, and the interval stays narrow.
    const double rates[] = {80e-6, -80e-6};
    for (const double rate : rates) {
        SCOPED_TRACE(testing::Message() << "drift " << rate * 1e6 << " ppm");
        SimulatedPortal portal(1300ms, 40ms);
        PortalClock clock;
        for (int poll = 1; poll <= 1500; ++poll) {
            Add(clock, portal.Poll());
            ASSERT_EQ(Miss(clock, portal.Offset()), 0ms) << "poll " << poll;
            if (poll >= 150) {
                ASSERT_LE(clock.Uncertainty(), 60ms) << "poll " << poll;
            }
            portal.SetOffset(portal.Offset() + std::chrono::duration_cast<Clock::duration>(800ms * rate));
        }
    }
}

TEST(PortalClock, OneAnswerGivesItsWholeSecond) {
    const Clock::time_point date = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + 8h;
    struct Case {
        Clock::duration sentBeforeDate;
        milliseconds roundTrip;
        milliseconds offset;
        milliseconds uncertainty;
    } cases[] = {
        {0ms, 0ms, 500ms, 500ms},       // stamped at once: [0, 1 s)
        {1300ms, 40ms, 1780ms, 520ms},  // [1.26 s, 2.3 s)
        {-2000ms, 2ms, -1501ms, 501ms}, // local clock ahead of the portal
        {10500us, 0ms, 510ms, 501ms},   // an odd micro-second moment, rounded outwards
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "sent "
                     << std::chrono::duration_cast<std::chrono::microseconds>(c.sentBeforeDate).count()
                     << " us before the date");
        PortalClock clock;
        const Clock::time_point sent = date - c.sentBeforeDate;
        clock.Add(sent, sent + c.roundTrip, date);
        ASSERT_TRUE(clock.Known());
        EXPECT_EQ(clock.Offset(), c.offset);
        EXPECT_EQ(clock.Uncertainty(), c.uncertainty);
    }
}

TEST(PortalClock, IgnoresBrokenAndUndatedAnswers) {
    const Clock::time_point date = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + 8h;
    PortalClock clock;
    clock.Add(date, date - 1ms, date);
    FetchedPage undated;
    undated.sent = date;
    undated.answered = date + 40ms;
    clock.Add(undated);
    EXPECT_FALSE(clock.Known());
    EXPECT_EQ(clock.PortalTime(date), date);

    FetchedPage page = undated;
    page.date = date + 1s;
    clock.Add(page);
    ASSERT_TRUE(clock.Known());
    EXPECT_EQ(clock.Offset(), 1480ms);
    // A broken measurement after that leaves the estimate as it was.
    clock.Add(date + 900ms, date, date - 60s);
    EXPECT_EQ(clock.Offset(), 1480ms);
    EXPECT_EQ(clock.Uncertainty(), 520ms);
}

TEST(PortalClock, SamplesAgeOut) {
    // A clock narrowed by many polls, then an idle gap longer than the age
    // limit: the next answer alone must count, even though it agrees.
    SimulatedPortal portal(1300ms, 2ms);
    PortalClock clock;
    for (int poll = 0; poll < 100; ++poll)
        Add(clock, portal.Poll());
    ASSERT_LE(clock.Uncertainty(), 50ms);
    portal.Idle(PortalClock::kMaxAge + 1s);
    Add(clock, portal.Poll());
    EXPECT_GE(clock.Uncertainty(), 501ms);
}

TEST(PortalClock, ConvertsBothWays) {
    SimulatedPortal portal(1300ms, 2ms);
    PortalClock clock;
    for (int poll = 0; poll < 50; ++poll)
        Add(clock, portal.Poll());
    const Clock::time_point release = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + 8h;
    const Clock::time_point local = clock.LocalTime(release);
    // The release comes earlier on our clock, since the portal's runs ahead.
    EXPECT_NEAR(std::chrono::duration<double>(release - local).count(), 1.3, 0.05);
    EXPECT_EQ(clock.PortalTime(local), release);
}

// A Date that does not move (or moves at the wrong pace) contradicts itself
// again and again: from the third restart on the portal's clock is not used.
TEST(PortalClock, ADateThatKeepsContradictingItselfIsNotTrusted) {
    PortalClock clock;
    const Clock::time_point start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 14} + 7h;
    const Clock::time_point frozen = std::chrono::floor<std::chrono::seconds>(start) + 5s;
    for (int i = 0; i < 10; ++i) {
        const Clock::time_point sent = start + 800ms * i;
        clock.Add(sent, sent + 2ms, frozen);
    }
    EXPECT_FALSE(clock.Trusted());
    EXPECT_FALSE(clock.Known());
    EXPECT_EQ(clock.Offset(), 0ms);
    EXPECT_EQ(OffsetText(clock), "服务器时间 不可信");
}

TEST(OffsetText, SignedSecondsWithOneDecimal) {
    const Clock::time_point date = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1} + 8h;
    struct Case {
        milliseconds offset;
        const char* text;
    } cases[] = {
        {1300ms, "服务器时间 +1.3 s"},        {-250ms, "服务器时间 -0.3 s"}, {0ms, "服务器时间 +0.0 s"},
        {-40ms, "服务器时间 +0.0 s"},         {1249ms, "服务器时间 +1.2 s"}, {59950ms, "服务器时间 +60.0 s"},
        {-3601000ms, "服务器时间 -3601.0 s"},
    };
    for (const Case& c : cases) {
        // One answer sent and answered at once is centred half a second past its stamp.
        PortalClock clock;
        const Clock::time_point local = date + 500ms - c.offset;
        clock.Add(local, local, date);
        ASSERT_EQ(clock.Offset(), c.offset);
        EXPECT_EQ(OffsetText(clock), c.text);
    }
    EXPECT_EQ(OffsetText(PortalClock()), "服务器时间 未知");
}

} // namespace
} // namespace quilora
