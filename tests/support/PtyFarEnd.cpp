#include "support/PtyFarEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "serial/LineRate.h"
#include "serial/TermiosSettings.h"
#include "simulator/PtyPair.h"

namespace tallyport::test {

using Clock = std::chrono::steady_clock;

namespace {

// Every byte passes unchanged: no line editing, echo or signals, no output processing, no input
// translation. Unlike the port's own raw test, an ignored break (IGNBRK, which Wine sets) is
// allowed: a break is a line condition, not a byte.
bool PassesBytesUnchanged(const termios& t) {
    constexpr tcflag_t kInputTranslation = BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL;
    constexpr tcflag_t kLineDiscipline = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    return (t.c_iflag & kInputTranslation) == 0 && (t.c_oflag & OPOST) == 0 &&
           (t.c_lflag & kLineDiscipline) == 0;
}

}  // namespace

PtyFarEnd::PtyFarEnd() : pair_(std::make_unique<sim::PtyPair>()) {
    slave_ = open(pair_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0)
        throw std::system_error(errno, std::generic_category(), "open " + pair_->SlavePath());
    // The serial tests expect a line at 9600 baud (the pty stores the rate and ignores it).
    termios t{};
    if (tcgetattr(slave_, &t) != 0 || cfsetspeed(&t, B9600) != 0 ||
        tcsetattr(slave_, TCSANOW, &t) != 0) {
        const int error = errno;
        close(slave_);
        throw std::system_error(error, std::generic_category(), "setting the line's rate");
    }
    slavePath_ = pair_->SlavePath();
}

PtyFarEnd::~PtyFarEnd() {
    if (slave_ >= 0)
        close(slave_);
}

int PtyFarEnd::Send(std::string_view bytes) {
    if (!pair_)
        return EIO;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(pair_->MasterFd(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{pair_->MasterFd(), POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return n < 0 ? errno : EIO;
        }
    }
    return 0;
}

std::string PtyFarEnd::Receive(std::size_t count, std::chrono::milliseconds within) {
    std::string got;
    if (!pair_)
        return got;
    const auto deadline = Clock::now() + within;
    while (got.size() < count) {
        char buffer[4096];
        ssize_t n = read(pair_->MasterFd(), buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{pair_->MasterFd(), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()) + 1);
    }
    return got;
}

int PtyFarEnd::Queued() const {
    int n = -1;
    if (ioctl(slave_, FIONREAD, &n) != 0)
        return -1;
    return n;
}

int PtyFarEnd::SendQueued(std::string_view bytes, std::chrono::milliseconds within) {
    const int expected = Queued() + static_cast<int>(bytes.size());
    if (int error = Send(bytes); error != 0)
        return error;
    const auto deadline = Clock::now() + within;
    while (Queued() != expected) {
        if (Clock::now() >= deadline)
            return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

void PtyFarEnd::HangUp() {
    pair_.reset();
}

int PtyFarEnd::Settings(FarSettings& settings) const {
    termios t{};
    if (tcgetattr(slave_, &t) != 0)
        return errno;
    std::uint32_t rate = 0;
    if (GetLineRate(slave_, rate) != 0)
        rate = RateOfSpeedConstant(cfgetospeed(&t));
    settings = FarSettings{.rate = rate,
                           .twoStopBits = (t.c_cflag & CSTOPB) != 0,
                           .raw = PassesBytesUnchanged(t),
                           .rtsCts = (t.c_cflag & CRTSCTS) != 0,
                           .xonOutput = (t.c_iflag & IXON) != 0,
                           .xonInput = (t.c_iflag & IXOFF) != 0,
                           .parityCheck = (t.c_iflag & INPCK) != 0};
    return 0;
}

int PtyFarEnd::SetSettings(std::uint32_t rate, bool twoStopBits) {
    const std::optional<speed_t> speed = SpeedConstant(rate);
    if (!speed)
        return EINVAL;
    termios t{};
    if (tcgetattr(slave_, &t) != 0)
        return errno;
    cfsetspeed(&t, *speed);
    t.c_cflag = twoStopBits ? (t.c_cflag | CSTOPB) : (t.c_cflag & ~CSTOPB);
    return tcsetattr(slave_, TCSANOW, &t) == 0 ? 0 : errno;
}

}  // namespace tallyport::test
