#include <time.h>

#include "base/LocalClock.h"

namespace tallyport {

std::tm LocalCalendar(std::time_t when) {
    std::tm calendar{};
    ::localtime_r(&when, &calendar);
    return calendar;
}

}  // namespace tallyport
