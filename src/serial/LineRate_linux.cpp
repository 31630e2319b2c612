// The kernel's termios2 interface. Its headers define a struct termios of their own, so this
// file must not see <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "serial/LineRate.h"

namespace tallyport {

int SetTermiosWithRate(int fd, const PlainTermios& record, std::uint32_t rate) {
    struct termios2 t {};
    t.c_iflag = record.iflag;
    t.c_oflag = record.oflag;
    t.c_cflag = record.cflag;
    t.c_lflag = record.lflag;
    t.c_line = record.line;
    std::copy_n(record.cc, std::min(std::size(t.c_cc), std::size(record.cc)), t.c_cc);
    // Output rate in c_ospeed; no separate input rate, so input runs at the output rate.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

int GetLineRate(int fd, std::uint32_t& rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    rate = t.c_ospeed;
    return 0;
}

}  // namespace tallyport
