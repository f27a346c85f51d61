#pragma once
// Plain calendar dates for slot schedules.
#include <optional>
#include <string>
#include <string_view>

namespace quilora::portal {

struct Date {
    int year = 2024;
    int month = 1;
    int day = 1;

    Date AddDays(int days) const;
    int Weekday() const;      // 1 Monday .. 7 Sunday
    std::string Text() const; // YYYY-MM-DD
    friend bool operator==(const Date&, const Date&) = default;
};

Date Today();
std::optional<Date> ParseDate(std::string_view text);

} // namespace quilora::portal
