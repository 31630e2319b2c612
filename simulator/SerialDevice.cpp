#include "simulator/SerialDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace tallyport::sim {

namespace {

speed_t SpeedOf(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            throw std::system_error(EINVAL, std::generic_category(),
                                    "line rate " + std::to_string(baud));
    }
}

tcflag_t DataBitsFlag(int bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

SerialDevice::SerialDevice(std::string path, const LineRate& line) : path_(std::move(path)) {
    const speed_t speed = SpeedOf(line.baud);
    fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "open " + path_);
    }
    termios settings{};
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd_, &settings) != 0) {
        const int saved = errno;
        close(fd_);
        throw std::system_error(saved, std::generic_category(), "take " + path_);
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= CLOCAL | CREAD | DataBitsFlag(line.dataBits);
    settings.c_cflag |= (line.parity ? PARENB : 0) | (line.stopBits == 2 ? CSTOPB : 0);
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
        const int saved = errno;
        close(fd_);
        throw std::system_error(saved, std::generic_category(), "set up " + path_);
    }
    tcflush(fd_, TCIOFLUSH);  // what an earlier user left on the line is not the PC's
}

SerialDevice::~SerialDevice() {
    close(fd_);
}

}  // namespace tallyport::sim
