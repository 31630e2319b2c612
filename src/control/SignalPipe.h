#pragma once

#include <initializer_list>
#include <memory>
#include <optional>

namespace tallyport {

// Turns the stop signals (SIGTERM, SIGINT) into bytes on a pipe, so that they are handled on
// the user-interface thread like any other event: the handler does nothing but write() the
// signal number. One instance at a time per process (the handler needs the descriptor in a
// static). The previous handlers are restored on destruction. The platform part lives in
// SignalPipe_posix.cpp.
class SignalPipe {
public:
    explicit SignalPipe(std::initializer_list<int> signalNumbers);
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // The read end, to watch for readiness.
    int ReadFd() const { return readFd_; }
    // The next signal received and not yet taken, without waiting.
    std::optional<int> TakeSignal();

private:
    int readFd_ = -1;
    int writeFd_ = -1;
    struct PreviousHandlers;                      // the platform's handler records
    std::unique_ptr<PreviousHandlers> previous_;  // restored in the destructor
};

}  // namespace tallyport
