#include <time.h>

#include "base/LocalClock.h"

namespace tallyport {

std::tm LocalCalendar(std::time_t when) {
    std::tm calendar{};
    ::localtime_s(&calendar, &when);  // the C library's thread-safe form
    return calendar;
}

}  // namespace tallyport
