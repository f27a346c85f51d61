#include "stamp.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <utility>

namespace quilora {

std::tm LocalCalendar(std::time_t t) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

namespace {

LocalClock& ClockSlot() {
    static LocalClock clock;
    return clock;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

LocalTime SystemLocalTime() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto secs = time_point_cast<seconds>(now);
    auto ms = duration_cast<milliseconds>(now - secs).count();
    std::time_t tt = system_clock::to_time_t(secs);
    if (ms < 0) { // before 1970 on clocks that round toward zero
        ms += 1000;
        --tt;
    }
    const std::tm tm = LocalCalendar(tt);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(ms);
    return t;
}

} // namespace

void SetLocalClock(LocalClock clock) {
    ClockSlot() = std::move(clock);
}

LocalTime CurrentLocalTime() {
    const LocalClock& clock = ClockSlot();
    return clock ? clock() : SystemLocalTime();
}

std::int64_t EpochMillisValue(const LocalTime& t) {
    // The portal's stamp is computed on a day count with the time of day as a
    // fraction (day 0 = 1899-12-30), so it must be reproduced in doubles,
    // truncation included, not as an exact integer count.
    constexpr double kUnixDay = 25569.0;
    constexpr double kMsPerDay = 86400000.0;
    const double date = static_cast<double>(DaysFromCivil(t.year, static_cast<unsigned>(t.month),
                                                          static_cast<unsigned>(t.day))) +
                        kUnixDay;
    const double time =
        (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / kMsPerDay;
    const double moment = date + time + 0.001;
    return static_cast<std::int64_t>(std::trunc(std::fabs(moment - kUnixDay) * kMsPerDay));
}

std::string EpochMillis() {
    return std::to_string(EpochMillisValue(CurrentLocalTime()));
}

} // namespace quilora
