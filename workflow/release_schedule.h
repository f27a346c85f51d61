#pragma once
// When to poll a slot whose release time the user knows. Slots open on the
// portal's clock; polling every 800 ms for hours draws rate limits, and a tick
// that happens to fall just before the release makes the booking wait a whole
// tick. So: a slow poll until a minute before the release, each placed so that
// the portal's second changes in the middle of what we know of its clock, then
// the 800 ms cadence with its phase shifted so that one poll reaches the portal
// just after the release.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "workflow/portal_clock.h"

namespace quilora {

struct ReleaseSchedule {
    using Clock = std::chrono::system_clock;
    using ms = std::chrono::milliseconds;

    static constexpr std::chrono::seconds kSlowInterval{30};
    static constexpr std::chrono::seconds kFastLead{60};
    static constexpr ms kCadence{800};
    // The aligned poll aims here after the release, on the portal's clock.
    static constexpr ms kLandAfter{35};
    // Closer than this to the aligned poll, ticks keep to the cadence exactly.
    static constexpr std::chrono::seconds kSteadyApproach{5};
    // Below this uncertainty the clock needs no more probing.
    static constexpr ms kPreciseEnough{10};
    // A grid point this little before the 800 ms floor is taken late, at the
    // floor, rather than skipped.
    static constexpr ms kFloorSlack{100};

    Clock::time_point release; // on the portal's clock

    // The local moment at which the next poll should be sent, given the local
    // time now, the round trip of a poll and when the last poll was sent.
    // Whatever the portal's clock says, it is never sooner than kCadence after
    // the last poll, nor sooner than kSlowInterval while the release is more
    // than kFastLead away.
    Clock::time_point NextPoll(const PortalClock& clock, Clock::time_point now, ms roundTrip,
                               std::optional<Clock::time_point> lastPoll = std::nullopt) const;
    // The local moment at which the aligned poll is sent.
    Clock::time_point AlignedPoll(const PortalClock& clock, ms roundTrip) const;
};

// "HH:MM" or "HH:MM:SS" (two digits each; hours 00-23, minutes and seconds
// 00-59) as the next such moment of the portal's clock: today, or tomorrow
// when it has passed. nullopt when the text is no such time.
std::optional<std::chrono::system_clock::time_point>
ReleaseMoment(std::string_view text, std::chrono::system_clock::time_point portalNow);

// "00:05:12": a count-down or a time waited.
std::string Clocktime(std::chrono::system_clock::duration d);

} // namespace quilora
