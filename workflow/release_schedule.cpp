#include "workflow/release_schedule.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "common/stamp.h"

namespace quilora {

namespace {

using Clock = ReleaseSchedule::Clock;
using ms = ReleaseSchedule::ms;

// A send time within [from, to] at which the request reaches the portal just as
// its second changes, if our middle estimate of the offset is right: the Date
// of the answer then tells on which side of the middle the offset lies.
std::optional<Clock::time_point> Probe(const PortalClock& clock, Clock::time_point from, Clock::time_point to,
                                       ms roundTrip) {
    const Clock::duration shift = clock.Offset() + roundTrip / 2;
    // The portal's whole second at or after the earliest arrival.
    const auto earliest = std::chrono::ceil<std::chrono::seconds>(from + shift);
    const Clock::time_point send = Clock::time_point(earliest) - shift;
    if (send > to)
        return std::nullopt;
    return send;
}

// Whether the clock can place the fast phase: answers that agree, none of
// them contradicted lately.
bool Settled(const PortalClock& clock, Clock::time_point now) {
    return !clock.Known() ||
           (clock.SampleCount() >= 2 && !clock.RestartedSince(now - ReleaseSchedule::kSlowInterval));
}

bool Precise(const PortalClock& clock) {
    return clock.Known() && clock.Uncertainty() <= ReleaseSchedule::kPreciseEnough;
}

} // namespace

Clock::time_point ReleaseSchedule::AlignedPoll(const PortalClock& clock, ms roundTrip) const {
    return clock.LocalTime(release + kLandAfter) - roundTrip / 2;
}

Clock::time_point ReleaseSchedule::NextPoll(const PortalClock& clock, Clock::time_point now, ms roundTrip,
                                            std::optional<Clock::time_point> lastPoll) const {
    const Clock::time_point fastFloor = lastPoll ? *lastPoll + kCadence : now;
    const Clock::time_point slowFloor = lastPoll ? *lastPoll + kSlowInterval : now;
    const Clock::time_point aligned = AlignedPoll(clock, roundTrip);
    // The cadence's grid through the aligned poll; the ticks after it go on every 800 ms.
    const auto gridAfter = [&](Clock::time_point t) {
        const auto steps =
            (t - aligned) / kCadence + ((t - aligned) % kCadence > Clock::duration::zero() ? 1 : 0);
        return aligned + steps * kCadence;
    };
    const Clock::time_point fastStart = gridAfter(clock.LocalTime(release) - kFastLead);

    if (now < fastStart) {
        // Slow: one poll every 30 s at most, placed to narrow the clock.
        const Clock::time_point earliest = std::max(now + kSlowInterval, slowFloor);
        // A clock that just started again may be a Date that lies (frozen, slow):
        // it would place the fast phase a moment ahead again and again.
        if (earliest >= fastStart)
            return std::max(fastStart, Settled(clock, now) ? fastFloor : slowFloor);
        if (!Precise(clock))
            if (const auto probe = Probe(clock, earliest,
                                         std::min(earliest + std::chrono::seconds(5), fastStart), roundTrip))
                return *probe;
        return earliest;
    }
    // Fast: about every 800 ms. While the clock is still wide and the aligned poll
    // is not near, a tick may come up to a second late to probe the second's
    // change (a second always holds one).
    const Clock::time_point earliest = std::max(now + kCadence / 2, fastFloor);
    if (!Precise(clock) && now + kSteadyApproach < aligned) {
        const Clock::time_point from = std::max(now + kCadence - ms(300), fastFloor);
        if (const auto probe = Probe(clock, from, from + ms(1000), roundTrip))
            return *probe;
    }
    // When the grid moved a little earlier since the last poll, the floor would
    // skip a whole tick (the aligned one, maybe): poll a little late instead.
    const Clock::time_point next = gridAfter(earliest);
    if (lastPoll && fastFloor > now + kCadence / 2 && next - kCadence < fastFloor &&
        fastFloor - (next - kCadence) <= kFloorSlack)
        return fastFloor;
    return next;
}

std::optional<Clock::time_point> ReleaseMoment(std::string_view text, Clock::time_point portalNow) {
    // "HH:MM" or "HH:MM:SS", two digits each, nothing else.
    if (text.size() != 5 && text.size() != 8)
        return std::nullopt;
    std::vector<int> parts;
    for (std::size_t at = 0; at < text.size(); at += 3) {
        const char hi = text[at], lo = text[at + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9' || (at + 2 < text.size() && text[at + 2] != ':'))
            return std::nullopt;
        parts.push_back((hi - '0') * 10 + (lo - '0'));
    }
    const int h = parts[0], m = parts[1], sec = parts.size() == 3 ? parts[2] : 0;
    if (h > 23 || m > 59 || sec > 59)
        return std::nullopt;
    // The portal keeps the user's time zone; only its clock runs apart.
    std::tm local = LocalCalendar(Clock::to_time_t(portalNow));
    local.tm_hour = h;
    local.tm_min = m;
    local.tm_sec = sec;
    local.tm_isdst = -1;
    Clock::time_point at = Clock::from_time_t(std::mktime(&local));
    if (at <= portalNow) {
        local.tm_mday += 1;
        local.tm_isdst = -1;
        at = Clock::from_time_t(std::mktime(&local));
    }
    return at;
}

std::string Clocktime(Clock::duration d) {
    const long long s = std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(d).count());
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

} // namespace quilora
