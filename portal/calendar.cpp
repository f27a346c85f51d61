#include "portal/calendar.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace quilora::portal {

namespace {
std::chrono::sys_days ToDays(const Date& d) {
    return std::chrono::year_month_day{std::chrono::year{d.year}, std::chrono::month{unsigned(d.month)},
                                       std::chrono::day{unsigned(d.day)}};
}
Date FromDays(std::chrono::sys_days days) {
    const std::chrono::year_month_day ymd{days};
    return Date{int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day()))};
}
} // namespace

Date Date::AddDays(int days) const {
    return FromDays(ToDays(*this) + std::chrono::days{days});
}

int Date::Weekday() const {
    return int(std::chrono::weekday{ToDays(*this)}.iso_encoding());
}

std::string Date::Text() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

Date Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::optional<Date> ParseDate(std::string_view text) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    const std::string s(text);
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3)
        return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{unsigned(m)},
                                          std::chrono::day{unsigned(d)}};
    if (!ymd.ok() || y < 1900)
        return std::nullopt;
    return Date{y, m, d};
}

} // namespace quilora::portal
