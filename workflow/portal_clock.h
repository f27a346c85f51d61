#pragma once
// The portal's clock as seen from ours. Slots open at a moment of the portal's
// clock, and all it tells us is the whole-second Date header of each answer.
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>

namespace quilora {

struct FetchedPage;

// Estimates offset = portal clock - local clock. An answer dated D whose request
// went out at local S and whose first byte came at local A was stamped at some
// local instant in [S, A], so the offset lies in [D - A, D + 1 s - S). Polls
// keep crossing the portal's second boundary at different phases, and the
// intersection of these intervals narrows towards one round trip.
//
// Either clock may drift: each kept sample's interval widens by kMaxDrift for
// every second it is older than the newest, and samples age out (at most
// kMaxSamples, none more than kMaxAge older than the newest).
// Either clock may also be stepped. A sample that shares no point with the
// others starts the estimate again from that sample alone: samples from before
// a step can agree with the new offset by chance, and nothing tells them apart
// from samples after it, so keeping any of them could leave the true offset
// outside the interval until they age out.
class PortalClock {
public:
    using Clock = std::chrono::system_clock;

    // About two minutes of polls at one per 800 ms.
    static constexpr std::size_t kMaxSamples = 150;
    static constexpr std::chrono::minutes kMaxAge{2};
    // 100 ppm: well beyond a working clock, yet only 12 ms over kMaxAge.
    static constexpr double kMaxDrift = 100e-6;

    // One answer; ignored when answered < sent (a broken measurement).
    void Add(Clock::time_point sent, Clock::time_point answered, Clock::time_point date);
    // The same for a fetched page; a page without a readable Date is ignored.
    void Add(const FetchedPage& page);

    // A Date that keeps contradicting itself (frozen, running slow or fast)
    // restarts the estimate again and again; from this many restarts within
    // kMaxAge on, the portal's clock is not trusted and ours stands in.
    static constexpr std::size_t kMaxRestarts = 3;

    // Whether the estimate counts: some sample, and a Date that can be trusted.
    // Until then the offset is taken as zero.
    bool Known() const { return !samples_.empty() && Trusted(); }
    bool Trusted() const { return restarts_.size() < kMaxRestarts; }
    std::size_t SampleCount() const { return samples_.size(); }
    // Whether the estimate started again after `local` (an answer contradicted it).
    bool RestartedSince(Clock::time_point local) const {
        return !restarts_.empty() && restarts_.back() > local;
    }
    // The middle of the interval, portal minus local.
    std::chrono::milliseconds Offset() const;
    // Half the interval's width, rounded up so that the offset lies within
    // Offset() +- Uncertainty(); zero while nothing is known.
    std::chrono::milliseconds Uncertainty() const;

    Clock::time_point PortalTime(Clock::time_point local) const { return local + Offset(); }
    Clock::time_point LocalTime(Clock::time_point portal) const { return portal - Offset(); }

private:
    struct Sample {
        Clock::time_point answered;
        Clock::duration low;  // offset >= low
        Clock::duration high; // offset < high
    };
    // Intersects the kept samples as of the newest; false when they share no point.
    bool Narrow();

    std::deque<Sample> samples_;             // oldest first
    std::deque<Clock::time_point> restarts_; // when the estimate last started again
    Clock::duration low_{};
    Clock::duration high_{};
};

// The text shown to the user: "服务器时间 +1.3 s", or "服务器时间 未知".
std::string OffsetText(const PortalClock& clock);

} // namespace quilora
