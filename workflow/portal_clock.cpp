#include "portal_clock.h"

#include <algorithm>

#include "net/fetcher.h"

namespace quilora {

using std::chrono::milliseconds;

void PortalClock::Add(Clock::time_point sent, Clock::time_point answered, Clock::time_point date) {
    if (answered < sent)
        return;
    samples_.push_back({answered, date - answered, date + std::chrono::seconds(1) - sent});
    while (samples_.size() > kMaxSamples || samples_.front().answered < answered - kMaxAge)
        samples_.pop_front();
    while (!restarts_.empty() && (restarts_.front() < answered - kMaxAge || restarts_.front() > answered))
        restarts_.pop_front();
    if (!Narrow()) {
        restarts_.push_back(answered);
        samples_.erase(samples_.begin(), samples_.end() - 1);
        Narrow();
    }
}

void PortalClock::Add(const FetchedPage& page) {
    if (page.date)
        Add(page.sent, page.answered, *page.date);
}

bool PortalClock::Narrow() {
    const Clock::time_point now = samples_.back().answered;
    low_ = Clock::duration::min();
    high_ = Clock::duration::max();
    for (const Sample& s : samples_) {
        // Measured on the local clock, which may itself have been set back since.
        const Clock::duration age = now > s.answered ? now - s.answered : s.answered - now;
        const auto slack = std::chrono::duration_cast<Clock::duration>(age * kMaxDrift);
        low_ = std::max(low_, s.low - slack);
        high_ = std::min(high_, s.high + slack);
    }
    return low_ < high_;
}

milliseconds PortalClock::Offset() const {
    if (!Known())
        return milliseconds(0);
    return std::chrono::round<milliseconds>(low_ + (high_ - low_) / 2);
}

milliseconds PortalClock::Uncertainty() const {
    if (!Known())
        return milliseconds(0);
    const Clock::duration offset = Offset();
    return std::chrono::ceil<milliseconds>(std::max(offset - low_, high_ - offset));
}

std::string OffsetText(const PortalClock& clock) {
    if (!clock.Trusted())
        return "服务器时间 不可信";
    if (!clock.Known())
        return "服务器时间 未知";
    const long long ms = clock.Offset().count();
    const long long tenths = ((ms < 0 ? -ms : ms) + 50) / 100;
    // An offset that shows as zero gets a plus sign, never "-0.0".
    const char* sign = ms < 0 && tenths > 0 ? "-" : "+";
    return std::string("服务器时间 ") + sign + std::to_string(tenths / 10) + "." +
           std::to_string(tenths % 10) + " s";
}

} // namespace quilora
