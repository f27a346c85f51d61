#pragma once
// Request stamp: the "d" parameter of most portal addresses.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace quilora {

// Local wall-clock time broken down to the millisecond.
struct LocalTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The local calendar time of t (localtime, on every platform).
std::tm LocalCalendar(std::time_t t);

// The clock is the one seam tests may replace; null restores the system clock.
using LocalClock = std::function<LocalTime()>;
void SetLocalClock(LocalClock clock);
LocalTime CurrentLocalTime();

// Milliseconds since 1970-01-01 local, 86.4 s ahead, computed on day fractions
// in double precision (hence often one below the exact count).
std::int64_t EpochMillisValue(const LocalTime& t);
std::string EpochMillis();

} // namespace quilora
