// Birth dates as yyyymmdd values: split, checked against the calendar, and the days between two.
// All inline: the reading phase uses them for every record with a birth date.
#pragma once

#include <cstdint>

namespace kinstrom {

// The day number of a date (day, month and year of the proleptic Gregorian calendar).
inline int64_t day_number(int64_t day, int64_t month, int64_t year) {
    const int64_t a = (month - 14) / 12;
    return (1461 * (year + a) + 7012800) / 4 + (367 * (month - 12 * a) - 734) / 12 -
           (3 * ((year + a + 4900) / 100)) / 4 + day;
}

// Days from date 2 to date 1 (yyyymmdd values split into day, month, year).
inline int32_t daysbetween(int32_t day1, int32_t month1, int32_t year1, int32_t day2,
                           int32_t month2, int32_t year2) {
    return static_cast<int32_t>(day_number(day1, month1, year1) - day_number(day2, month2, year2));
}

// Day, month and year of a yyyymmdd value.
struct SplitDate {
    int32_t day, month, year;
};
inline SplitDate split_date(int32_t v) {
    const int32_t year = v / 10000;
    return {v - (v / 100) * 100, (v - year * 10000) / 100, year};
}

// Month 1 to 12 and a day the month has (29 February in leap years only).
inline bool is_calendar_date(const SplitDate& d) {
    static constexpr int32_t DAYS[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DAYS[d.month]) return false;
    if (d.month != 2 || d.day < 29) return true;
    return (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
}

}  // namespace kinstrom
