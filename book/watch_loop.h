#pragma once
// The auto-booking timer of the tool: the window's 800 ms ticks on a steady
// clock, with no event loop.
#include <chrono>
#include <functional>

#include "workflow/auto_booking.h"

namespace quilora::book {

inline constexpr std::chrono::milliseconds kTickInterval{800};

// Ticks the armed engine every interval until a tick stops it or books.
// stop is read while waiting and before each tick; once true, the next tick is
// the stopping one.
AutoBooking::TickResult RunTicks(AutoBooking& order, PortalSession& session,
                                 const std::function<bool()>& stop,
                                 std::chrono::milliseconds interval = kTickInterval);

} // namespace quilora::book
