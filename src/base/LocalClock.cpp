#include "base/LocalClock.h"

#include <cstdio>
#include <ctime>

namespace tallyport {

LocalTime SystemLocalClock::Now() const {
    const std::tm tm = LocalCalendar(std::time(nullptr));
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

const LocalClock& DefaultLocalClock() {
    static const SystemLocalClock clock;
    return clock;
}

std::string FormatDateDDMMYY(const LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", t.day % 100, t.month % 100, t.year % 100);
    return buf;
}

std::string FormatTimeHHMM(const LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour % 100, t.minute % 100);
    return buf;
}

std::string FormatTimestamp(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
    return buf;
}

}  // namespace tallyport
