#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>

namespace tallyport {

// A request to end the program, as it arrived.
struct StopRequest {
    int signal = 0;  // the signal number (see SignalPipe)
    // The system ends the process shortly whatever the program does (Windows: the console
    // window is closed, the user logs off, the system shuts down, the service is stopped): the
    // program may not refuse it, even with receipts open.
    bool mustEnd = false;

    bool operator==(const StopRequest&) const = default;
};

// Turns the stop signals into requests queued for the user-interface thread, so that they are
// handled there like any other event: the handler does nothing but queue. One instance at a
// time per process (the handler finds it in a static). The previous handlers are restored on
// destruction. One file per platform:
// - POSIX (SignalPipe_posix.cpp): the signals given (SIGTERM, SIGINT) write their number to a
//   pipe; ReadFd is its read end, for a toolkit's watcher.
// - Windows (SignalPipe_win32.cpp): SIGINT given handles the console's Ctrl+C and Ctrl+Break
//   (as SIGINT), SIGTERM the console's closing, log-off and shutdown (as SIGTERM, mustEnd). For
//   those the system ends the process once the handler returns, so the handler waits until the
//   program has called Finished (or the system's own time is up). ReadFd is -1: use Wait.
// Every member but the constructor and destructor may be called from any thread.
class SignalPipe {
public:
    explicit SignalPipe(std::initializer_list<int> signalNumbers);
    ~SignalPipe();  // also Finished()
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // The read end, to watch for readiness (POSIX); -1 where there is none.
    int ReadFd() const { return readFd_; }
    // The next request received and not yet taken, without waiting.
    std::optional<StopRequest> TakeRequest();
    // Waits at most `wait` for a request; true when one is there to take.
    bool Wait(std::chrono::milliseconds wait);
    // Queues a request as a signal would: the service control manager's stop comes this way.
    void Deliver(StopRequest request);
    // The program has stopped in order: a system request waiting for that may end it now.
    void Finished();

private:
    int readFd_ = -1;
    int writeFd_ = -1;
    struct Platform;                      // the platform's handler records and queue
    std::unique_ptr<Platform> platform_;  // restored in the destructor
};

}  // namespace tallyport
