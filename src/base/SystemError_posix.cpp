#include <cerrno>
#include <cstring>

#include "base/SystemError.h"

namespace tallyport {

std::string ErrorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);  // the GNU form: thread-safe
}

int InvalidArgumentError() {
    return EINVAL;
}

}  // namespace tallyport
