#pragma once
// Calendar time as the system's C library knows it (thread-safe forms only).

#include <ctime>

namespace pelotest {

// The UTC, or the local, calendar time of time; false when the system cannot express it.
bool utcCalendarTime(std::time_t time, std::tm& out);
bool localCalendarTime(std::time_t time, std::tm& out);
// The inverse of utcCalendarTime (fields out of range are normalised); -1 when unrepresentable.
std::time_t timeOfUtcCalendar(std::tm calendar);

} // namespace pelotest
