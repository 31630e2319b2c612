#include <fcntl.h>
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

extern "C" void WriteSignalByte(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: enough bytes are already waiting to wake the reader.
    [[maybe_unused]] ssize_t n = ::write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

struct SignalPipe::PreviousHandlers {
    std::vector<std::pair<int, struct sigaction>> handlers;
};

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers)
    : previous_(std::make_unique<PreviousHandlers>()) {
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
            previous_->handlers.emplace_back(signalNumber, old);
        }
    }
}

SignalPipe::~SignalPipe() {
    for (const auto& [signalNumber, old] : previous_->handlers) {
        ::sigaction(signalNumber, &old, nullptr);
    }
    gWriteFd = -1;
    ::close(readFd_);
    ::close(writeFd_);
}

std::optional<int> SignalPipe::TakeSignal() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t n = ::read(readFd_, &byte, 1);
        if (n == 1) {
            return byte;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return std::nullopt;
    }
}

}  // namespace tallyport
