#include "support/PtyLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <thread>

#include "simulator/PtyPair.h"

namespace tallyport::test {

using Clock = std::chrono::steady_clock;

PtyLine::PtyLine() {
    try {
        pair_ = std::make_unique<sim::PtyPair>();
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return;
    }
    slave_ = open(pair_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        ADD_FAILURE() << "open " << pair_->SlavePath() << ": " << strerror(errno);
        return;
    }
    // The serial tests expect a line at 9600 baud (the pty stores the rate and ignores it).
    termios t{};
    if (tcgetattr(slave_, &t) != 0 || cfsetspeed(&t, B9600) != 0 ||
        tcsetattr(slave_, TCSANOW, &t) != 0) {
        ADD_FAILURE() << "setting the line's rate: " << strerror(errno);
        return;
    }
    slavePath_ = pair_->SlavePath();
}

PtyLine::~PtyLine() {
    if (slave_ >= 0)
        close(slave_);
}

int PtyLine::Master() const {
    return pair_ ? pair_->MasterFd() : -1;
}

void PtyLine::Send(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(Master(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{Master(), POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            ADD_FAILURE() << "write to the master: " << strerror(errno);
            return;
        }
    }
}

std::string PtyLine::Receive(std::size_t count, std::chrono::milliseconds within) {
    std::string got;
    const auto deadline = Clock::now() + within;
    while (got.size() < count) {
        char buffer[4096];
        ssize_t n = read(Master(), buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{Master(), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()) + 1);
    }
    return got;
}

int PtyLine::SlaveQueued() const {
    int n = -1;
    if (ioctl(slave_, FIONREAD, &n) != 0)
        return -1;
    return n;
}

bool PtyLine::SendQueued(std::string_view bytes, std::chrono::milliseconds within) {
    const int expected = SlaveQueued() + static_cast<int>(bytes.size());
    Send(bytes);
    const auto deadline = Clock::now() + within;
    while (SlaveQueued() != expected) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void PtyLine::CloseMaster() {
    pair_.reset();
}

}  // namespace tallyport::test
