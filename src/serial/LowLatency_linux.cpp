#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "serial/LowLatency.h"

namespace tallyport {

int RequestLowLatency(int fd) {
    serial_struct settings{};
    if (ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return errno;
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0)
        return 0;
    // The settings go back as read, with the one flag added: a driver refuses an unprivileged
    // caller that changes anything else.
    settings.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &settings) == 0 ? 0 : errno;
}

}  // namespace tallyport
