#include <windows.h>

#include <csignal>
#include <deque>
#include <mutex>

#include "control/SignalPipe.h"

namespace tallyport {

struct SignalPipe::Platform {
    std::mutex mutex;
    std::deque<StopRequest> queued;
    HANDLE arrived = nullptr;  // manual reset: set while a request waits to be taken
    bool interrupts = false;   // SIGINT given: Ctrl+C and Ctrl+Break
    bool endings = false;      // SIGTERM given: closing, log-off, shutdown
    bool handlerInstalled = false;
};

namespace {

// The instance the console handler delivers to, and the event its waits end on. The event
// lives as long as the process: a handler thread may still be waiting on it while the pipe
// goes away.
std::mutex gInstanceMutex;
SignalPipe* gInstance = nullptr;
bool gInterrupts = false;
bool gEndings = false;

HANDLE FinishedEvent() {
    static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread the system makes for each console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    StopRequest request;
    {
        std::lock_guard lock(gInstanceMutex);
        const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
        const bool ending =
            event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
        if (gInstance == nullptr || (interrupt && !gInterrupts) || (ending && !gEndings) ||
            (!interrupt && !ending)) {
            return FALSE;  // the next handler (the system's: end the process)
        }
        request = interrupt ? StopRequest{SIGINT, false} : StopRequest{SIGTERM, true};
        gInstance->Deliver(request);
    }
    if (request.mustEnd) {
        // The process ends when this returns: it returns once the program has stopped in
        // order, or when the system's own time for the event is up and it ends the process.
        ::WaitForSingleObject(FinishedEvent(), INFINITE);
    }
    return TRUE;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers)
    : platform_(std::make_unique<Platform>()) {
    platform_->arrived = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int signalNumber : signalNumbers) {
        platform_->interrupts = platform_->interrupts || signalNumber == SIGINT;
        platform_->endings = platform_->endings || signalNumber == SIGTERM;
    }
    ::ResetEvent(FinishedEvent());
    std::lock_guard lock(gInstanceMutex);
    gInstance = this;
    gInterrupts = platform_->interrupts;
    gEndings = platform_->endings;
    // Without a signal (the service) no handler: a service must not end when a user logs off.
    if (platform_->interrupts || platform_->endings) {
        platform_->handlerInstalled = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
    }
}

SignalPipe::~SignalPipe() {
    Finished();
    {
        std::lock_guard lock(gInstanceMutex);
        gInstance = nullptr;
    }
    if (platform_->handlerInstalled) {
        ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    }
    ::CloseHandle(platform_->arrived);
}

std::optional<StopRequest> SignalPipe::TakeRequest() {
    std::lock_guard lock(platform_->mutex);
    if (platform_->queued.empty()) {
        return std::nullopt;
    }
    const StopRequest request = platform_->queued.front();
    platform_->queued.pop_front();
    if (platform_->queued.empty()) {
        ::ResetEvent(platform_->arrived);
    }
    return request;
}

bool SignalPipe::Wait(std::chrono::milliseconds wait) {
    return ::WaitForSingleObject(platform_->arrived, static_cast<DWORD>(wait.count())) ==
           WAIT_OBJECT_0;
}

void SignalPipe::Deliver(StopRequest request) {
    std::lock_guard lock(platform_->mutex);
    // Requests of one kind need not pile up: one waiting is enough to act on.
    if (platform_->queued.size() < 16) {
        platform_->queued.push_back(request);
    }
    ::SetEvent(platform_->arrived);
}

void SignalPipe::Finished() {
    ::SetEvent(FinishedEvent());
}

}  // namespace tallyport
