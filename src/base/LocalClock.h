#pragma once

#include <ctime>
#include <string>

namespace tallyport {

// A moment of local wall-clock time, to the minute as the output records need it.
struct LocalTime {
    int year = 0;    // four digits
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

// Source of local date and time for the output records. The production clock reads the
// system's local time; tests inject a fixed one. Implementations must be safe to call from
// any thread.
class LocalClock {
public:
    virtual ~LocalClock() = default;
    virtual LocalTime Now() const = 0;
};

// The calendar fields of `when` in the system's local time zone, safely from any thread
// (localtime_r, localtime_s: one file per platform).
std::tm LocalCalendar(std::time_t when);

// The system's local time (LocalCalendar of now).
class SystemLocalClock final : public LocalClock {
public:
    LocalTime Now() const override;
};

// The process's shared system clock.
const LocalClock& DefaultLocalClock();

// "DD/MM/YY": day and month two digits, the last two digits of the year.
std::string FormatDateDDMMYY(const LocalTime& t);

// "HH:MM", 24-hour.
std::string FormatTimeHHMM(const LocalTime& t);

// "YYYY-MM-DD HH:MM:SS", for time stamps in messages written to standard error.
std::string FormatTimestamp(const LocalTime& t);

}  // namespace tallyport
