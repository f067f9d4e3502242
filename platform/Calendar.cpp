#include "platform/Calendar.h"

namespace pelotest {

#ifdef _WIN32
// The C runtime of Windows has the same calls with its own names and argument order.
bool utcCalendarTime(std::time_t time, std::tm& out) {
    return ::gmtime_s(&out, &time) == 0;
}

bool localCalendarTime(std::time_t time, std::tm& out) {
    return ::localtime_s(&out, &time) == 0;
}

std::time_t timeOfUtcCalendar(std::tm calendar) {
    return ::_mkgmtime(&calendar);
}
#else
bool utcCalendarTime(std::time_t time, std::tm& out) {
    return ::gmtime_r(&time, &out) != nullptr;
}

bool localCalendarTime(std::time_t time, std::tm& out) {
    return ::localtime_r(&time, &out) != nullptr;
}

std::time_t timeOfUtcCalendar(std::tm calendar) {
    return ::timegm(&calendar);
}
#endif

} // namespace pelotest
