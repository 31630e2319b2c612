#include "PtyPair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "SerialTestHelpers.h"

namespace tallyport::testing {

PtyPair::PtyPair() {
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    char name[PATH_MAX] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << strerror(errno);
        return;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave_ >= 0)
        close(slave_);
}

void PtyPair::Send(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            ADD_FAILURE() << "write to the master: " << strerror(errno);
            return;
        }
    }
}

std::string PtyPair::Receive(std::size_t count, std::chrono::milliseconds within) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (got.size() < count) {
        char buffer[4096];
        ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()) + 1);
    }
    return got;
}

int PtyPair::SlaveQueued() const {
    int n = -1;
    if (ioctl(slave_, FIONREAD, &n) != 0)
        return -1;
    return n;
}

bool PtyPair::SendQueued(std::string_view bytes, std::chrono::milliseconds within) {
    const int before = SlaveQueued();
    Send(bytes);
    const int expected = before + static_cast<int>(bytes.size());
    return WaitUntil([&] { return SlaveQueued() == expected; }, within);
}

void PtyPair::CloseMaster() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

}  // namespace tallyport::testing
