// Birth dates as yyyymmdd values: split, checked against the calendar, and the days between two.
#pragma once

#include <cstdint>

namespace kinstrom {

// Days from date 2 to date 1 (yyyymmdd values split into day, month, year).
int32_t daysbetween(int32_t day1, int32_t month1, int32_t year1, int32_t day2, int32_t month2,
                    int32_t year2);

// Day, month and year of a yyyymmdd value.
struct SplitDate {
    int32_t day, month, year;
};
SplitDate split_date(int32_t v);

// Month 1 to 12 and a day the month has (29 February in leap years only).
bool is_calendar_date(const SplitDate& d);

}  // namespace kinstrom
