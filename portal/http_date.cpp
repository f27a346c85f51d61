#include "portal/http_date.h"

#include <cstdio>

namespace quilora::portal {

std::string HttpDate(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // Names written out rather than strftime's, which follow the locale.
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto second = floor<seconds>(when);
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss time{second - day};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04d %02d:%02d:%02d GMT", kDays[weekday{day}.c_encoding()],
                  unsigned(date.day()), kMonths[unsigned(date.month()) - 1], int(date.year()),
                  int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count()));
    return buf;
}

} // namespace quilora::portal
