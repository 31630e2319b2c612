#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "control/SignalPipe.h"

namespace tallyport {
namespace {

volatile sig_atomic_t gWriteFd = -1;

// One byte per request: the signal number, with the high bit for a request that must end.
constexpr unsigned char kMustEnd = 0x80;

extern "C" void WriteSignalByte(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: enough bytes are already waiting to wake the reader.
    [[maybe_unused]] ssize_t n = ::write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

struct SignalPipe::Platform {
    std::vector<std::pair<int, struct sigaction>> handlers;
};

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers)
    : platform_(std::make_unique<Platform>()) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    gWriteFd = writeFd_;
    for (int signalNumber : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = WriteSignalByte;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction old {};
        if (::sigaction(signalNumber, &action, &old) == 0) {
            platform_->handlers.emplace_back(signalNumber, old);
        }
    }
}

SignalPipe::~SignalPipe() {
    for (const auto& [signalNumber, old] : platform_->handlers) {
        ::sigaction(signalNumber, &old, nullptr);
    }
    gWriteFd = -1;
    ::close(readFd_);
    ::close(writeFd_);
}

std::optional<StopRequest> SignalPipe::TakeRequest() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t n = ::read(readFd_, &byte, 1);
        if (n == 1) {
            return StopRequest{byte & ~kMustEnd, (byte & kMustEnd) != 0};
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return std::nullopt;
    }
}

bool SignalPipe::Wait(std::chrono::milliseconds wait) {
    pollfd ready{readFd_, POLLIN, 0};
    const int result = ::poll(&ready, 1, static_cast<int>(wait.count()));
    return result > 0 && (ready.revents & POLLIN) != 0;
}

void SignalPipe::Deliver(StopRequest request) {
    const unsigned char byte =
        static_cast<unsigned char>(request.signal & 0x7F) | (request.mustEnd ? kMustEnd : 0);
    [[maybe_unused]] ssize_t n = ::write(writeFd_, &byte, 1);
}

void SignalPipe::Finished() {
    // Nothing waits: a signal's handler has returned long ago.
}

}  // namespace tallyport
