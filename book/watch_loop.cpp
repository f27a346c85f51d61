#include "book/watch_loop.h"

#include <thread>

namespace quilora::book {

AutoBooking::TickResult RunTicks(AutoBooking& order, PortalSession& session,
                                 const std::function<bool()>& stop, std::chrono::milliseconds interval) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    bool first = true;
    for (;;) {
        // A tick that overran (a booking, a slow portal) is followed an interval
        // after its last poll, not by a burst of the ticks it missed. With a
        // release time the engine places each tick itself.
        if (first)
            next = Clock::now() + order.NextTickDelay().value_or(interval);
        else
            next = std::max(next + interval, Clock::now() + order.DelayAfterTick(interval));
        first = false;
        // In short steps, so that Ctrl+C during a long wait stops at once.
        while (!stop() && Clock::now() < next)
            std::this_thread::sleep_until(std::min(next, Clock::now() + std::chrono::milliseconds(20)));
        if (stop())
            order.RequestStop();
        AutoBooking::TickResult tick = order.Tick(session);
        if (tick.end == AutoBooking::TickEnd::Stopped || tick.end == AutoBooking::TickEnd::Booked)
            return tick;
    }
}

} // namespace quilora::book
