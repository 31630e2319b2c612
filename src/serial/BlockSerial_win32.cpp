// The serial port on Windows: a COM port opened for overlapped I/O, every wait an overlapped
// operation waited on together with a stop event and its deadline.
//
// Why this design: WaitCommEvent(EV_RXCHAR) and the "return at the first byte" time-outs
// ({MAXDWORD, MAXDWORD, n}) do not behave alike on every driver (under Wine the first completes
// with an empty mask and the second waits out its whole time), and CancelSynchronousIo does not
// reach every driver either. A 1-byte overlapped read waits for input the same way everywhere;
// CancelIoEx ends it at the deadline or at a close, and ClosePort needs nothing but an event.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "serial/BlockSerial.h"
#include "serial/DcbSettings.h"
#include "serial/LineTime.h"
#include "serial/PortName.h"
#include "serial/SerialErrors.h"

namespace tallyport {

std::string PlatformErrorText(int code) {
    char* buffer = nullptr;
    // The system's message in the user's language, in the ANSI code page the program's texts
    // are kept in.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text =
        length > 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
    LocalFree(buffer);
    // The system's messages end in a line break, which a message box or a status line must not
    // show.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        return "Unknown error " + std::to_string(code);
    return text;
}

// Any COM port, COM10 and above included, is reached through the device namespace.
std::string DevicePathForPort(int portNumber) {
    return "\\\\.\\COM" + std::to_string(static_cast<long long>(portNumber) + 1);
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInQueueSize = 4096;
constexpr int kDefaultIoTimeoutMs = 30000;
// Windows has no call that asks a serial driver for low latency: a USB adapter's driver keeps
// its own latency timer, set in the port's properties, and nothing a program should change.
// The trace says so at each open, where a technician chasing late answers looks first.
constexpr const char* kLowLatencyNote =
    "low-latency mode is the adapter driver's own setting on Windows (FTDI: Latency Timer, "
    "16 ms unless lowered in the port's Advanced settings)";
// What a port that has gone away reports, whichever error showed it: the same text every time,
// one that tells the shop what happened.
constexpr int kDeviceGone = ERROR_DEVICE_NOT_CONNECTED;

// Errors of an open port's operations after which the device is gone: a USB adapter pulled
// out aborts the I/O in progress and then answers ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND or
// ERROR_GEN_FAILURE depending on its driver; a hung-up line under Wine ERROR_BROKEN_PIPE, then
// ERROR_NOT_READY. The port object's own cancels are told apart before this is asked, so an
// aborted operation here is one the driver gave up: taken for a working port, the reception
// loop would spin on it.
bool MeansDeviceGone(DWORD error) {
    switch (error) {
        case ERROR_OPERATION_ABORTED:
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
            return true;
        default:
            return false;
    }
}

// The thread's last error, or `fallback` for a call that failed without setting one (Wine's
// EscapeCommFunction on a pseudo-terminal does).
int LastErrorOr(int fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : fallback;
}

// Whole milliseconds left until `deadline`, rounded up so that a wait never ends early.
DWORD RemainingMs(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    // INFINITE is MAXDWORD: stay below it.
    return static_cast<DWORD>(std::min<decltype(ms)>(ms, MAXDWORD - 1));
}

Clock::time_point DeadlineAfter(int waitMs) {
    return Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
}

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t AsInt(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// Owns one kernel handle and closes it when it goes out of scope.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle)
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr; }
    void Reset() {
        if (handle_ != nullptr)
            CloseHandle(std::exchange(handle_, nullptr));
    }

private:
    HANDLE handle_ = nullptr;
};

// ClearCommError gives the queues' byte counts and the line-error flags, and clears the flags.
// Every status query of the port goes through one tally, so that flags that a byte count saw
// are not lost: they are kept as counters, which the next read or write reports. Used by the
// worker's thread only.
class CommStatusTally {
public:
    // The port's status now, its flags counted; nullopt when the query failed (the thread's
    // last error tells why).
    std::optional<COMSTAT> Query(HANDLE port) {
        DWORD flags = 0;
        COMSTAT status{};
        if (!ClearCommError(port, &flags, &status))
            return std::nullopt;
        counters_.frame += (flags & CE_FRAME) != 0 ? 1 : 0;
        counters_.overrun += (flags & CE_OVERRUN) != 0 ? 1 : 0;
        counters_.bufferOverrun += (flags & CE_RXOVER) != 0 ? 1 : 0;
        counters_.parity += (flags & CE_RXPARITY) != 0 ? 1 : 0;
        return status;
    }
    const LineErrorCounters& Counters() const { return counters_; }

private:
    LineErrorCounters counters_;
};

// The driver's own answers, through the tally.
class CommStatusProbe final : public LineStatusProbe {
public:
    explicit CommStatusProbe(CommStatusTally& tally) : tally_(tally) {}

    // The bytes of writes the driver has not sent yet. Some drivers (Wine's) always say 0;
    // a write then completes by the wire time alone.
    std::optional<int> OutputQueueCount(std::intptr_t handle) override {
        std::optional<COMSTAT> status = tally_.Query(AsHandle(handle));
        if (!status) {
            errno = static_cast<int>(GetLastError());  // the probe's contract: errno tells why
            return std::nullopt;
        }
        return static_cast<int>(std::min<DWORD>(status->cbOutQue, INT_MAX));
    }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t handle) override {
        if (!tally_.Query(AsHandle(handle)))
            return std::nullopt;
        return tally_.Counters();
    }

private:
    CommStatusTally& tally_;
};

// Received bytes not yet handed out, taken from the front without moving the rest.
class PendingBytes {
public:
    bool Empty() const { return head_ == data_.size(); }
    std::size_t Size() const { return data_.size() - head_; }
    void Clear() {
        data_.clear();
        head_ = 0;
    }
    void Assign(std::string bytes) {
        data_ = std::move(bytes);
        head_ = 0;
    }
    void Append(char byte) { data_.push_back(byte); }
    std::uint8_t PopFront() { return static_cast<std::uint8_t>(data_[head_++]); }
    // Moves up to `count` bytes from the front into `out`; gives how many.
    int TakeInto(char* out, int count) {
        const std::size_t n = std::min(Size(), static_cast<std::size_t>(std::max(count, 0)));
        std::copy_n(data_.data() + head_, n, out);
        head_ += n;
        if (Empty())
            Clear();
        return static_cast<int>(n);
    }
    std::string TakeAll() {
        std::string rest = head_ == 0 ? std::move(data_) : data_.substr(head_);
        Clear();
        return rest;
    }

private:
    std::string data_;
    std::size_t head_ = 0;
};

enum class WaitEnd { Ready, TimedOut, Closing, Lost, Failed };

struct WaitResult {
    WaitEnd end;
    int error = 0;  // for Failed
};

}  // namespace

struct TBlockSerial::Impl {
    enum class OpenState : std::uint8_t { Closed, Open, Closing };

    // The handles of an open port, lent to one operation. While any is lent, ClosePort waits
    // before it closes them.
    struct PortUse {
        HANDLE port;
        HANDLE stop;  // set by ClosePort: every wait on the port also waits on it
        HANDLE done;  // the completion event of the operation's overlapped I/O
        std::intptr_t Handle() const { return AsInt(port); }
    };

    Impl() : probe(std::make_unique<CommStatusProbe>(tally)) {}

    // --- Shared with ClosePort, which any thread may call ---------------------------------
    std::mutex closeMutex;  // one ClosePort at a time
    std::mutex mutex;       // guards port, stop, done and inFlight
    std::condition_variable idle;
    UniqueHandle port;
    UniqueHandle stop;
    UniqueHandle done;
    int inFlight = 0;
    std::atomic<OpenState> state{OpenState::Closed};
    std::atomic<int> lastError{0};
    std::atomic<int> lastLineError{0};
    std::atomic<int> portNumber{-1};
    std::atomic<bool> lost{false};
    std::atomic<int> ioTimeoutMs{kDefaultIoTimeoutMs};

    // --- The worker's own ----------------------------------------------------------------
    std::string deviceName;
    PendingBytes pending;
    // Bytes that a wait for input took from the driver (its 1-byte read): to the caller they
    // are still in the input queue, counted by InputCount and handed out first by every read.
    PendingBytes heldInput;
    PortSettings settings;
    // The settings the line runs at now (read at open, then as loaded or applied): they pace
    // the writes, whatever PortState holds meanwhile.
    PortSettings line;
    DCB record{};  // the record LoadPortState read; ApplyPortState writes on top of it
    bool recordLoaded = false;
    CommStatusTally tally;
    std::unique_ptr<LineStatusProbe> probe;
    std::optional<LineErrorCounters> countersSeen;
    // The receive-line error the operation in progress has seen; Record publishes it beside the
    // operation's own code and clears it.
    int lineSeen = 0;
    TraceHook trace;

    // Hands the bytes an operation moved to the trace hook, if there is one.
    void Traced(TraceDirection direction, const char* bytes, int count) {
        if (trace && count > 0) {
            try {
                trace(direction, std::string_view(bytes, static_cast<std::size_t>(count)));
            } catch (...) {
                // A trace that fails must not fail the line.
            }
        }
    }

    void Note(const std::string& text) {
        Traced(TraceDirection::Note, text.data(), static_cast<int>(text.size()));
    }

    bool IsOpen() const { return state.load() == OpenState::Open; }
    // The outcome of the worker's operation: its own code, replaced by the line error it saw,
    // if any, which is also kept apart (LastLineError).
    void Record(int code) {
        lastLineError.store(lineSeen);
        lastError.store(lineSeen != 0 ? lineSeen : code);
        lineSeen = 0;
    }
    // ClosePort's, from any thread: the worker's line error is not its business.
    void RecordClosed() {
        lastLineError.store(0);
        lastError.store(kSerialOk);
    }

    std::optional<PortUse> Enter() {
        std::lock_guard lock(mutex);
        if (state.load() != OpenState::Open)
            return std::nullopt;
        ++inFlight;
        return PortUse{port.Get(), stop.Get(), done.Get()};
    }
    void Leave() {
        std::lock_guard lock(mutex);
        if (--inFlight == 0)
            idle.notify_all();
    }

    int DeviceGone() {
        lost.store(true);
        return kDeviceGone;
    }
    int FromError(DWORD error) {
        return MeansDeviceGone(error) ? DeviceGone() : static_cast<int>(error);
    }
    WaitResult WaitFailure(DWORD error) {
        return MeansDeviceGone(error) ? WaitResult{WaitEnd::Lost}
                                      : WaitResult{WaitEnd::Failed, static_cast<int>(error)};
    }
    // Drops PendingInput, the held input and the driver's queues named by `purge` (PurgeComm
    // flags); with the input queue, the line errors counted so far.
    void Discard(DWORD purge);
    // The outcome of a wait that ended neither ready nor on time: the port was closed (9994),
    // the device went away, or the wait itself failed. 0 for ready or timed out.
    int FailureOf(const WaitResult& w) {
        switch (w.end) {
            case WaitEnd::Closing:
                return kSerialNotConnected;
            case WaitEnd::Lost:
                return DeviceGone();
            case WaitEnd::Failed:
                return w.error;
            case WaitEnd::Ready:
            case WaitEnd::TimedOut:
                break;
        }
        return 0;
    }

    WaitResult AwaitIo(const PortUse& use, OVERLAPPED& io, Clock::time_point deadline,
                       DWORD& moved);
    WaitResult WaitStop(const PortUse& use, Clock::time_point deadline);
    WaitResult ReadFromDriver(const PortUse& use, char* buffer, DWORD count,
                              Clock::time_point deadline, DWORD& moved);
    WaitResult WaitForByte(const PortUse& use, Clock::time_point deadline);
    int InputCountOn(const PortUse& use, int& count);
    int OutputCountOn(const PortUse& use, int& count);
    int WaitForInputOn(const PortUse& use, int waitMs, bool& ready);
    int WaitForInputUntil(const PortUse& use, Clock::time_point deadline, bool& ready);
    int ReadOn(const PortUse& use, char* buffer, int count, int& got);
    int ReadQueuedOn(const PortUse& use, char* buffer, int count, int& got);
    int WriteOn(const PortUse& use, const char* buffer, int count, Clock::time_point deadline,
                int& put);
    int FinishWriteOn(const PortUse& use, Clock::time_point start, Clock::time_point deadline,
                      int& put);
    // The first part of FinishWriteOn: until the driver's output queue is empty.
    int DrainWriteOn(const PortUse& use, Clock::time_point deadline, int& put);
    Clock::duration DrainStep(int queued) const;
    // Takes the driver's line-error counters and keeps what moved since the last look in
    // lineSeen (the code of the last condition in the mapping's order).
    void NoteLineErrors(const PortUse& use);
    int ReadAvailableOn(const PortUse& use, int waitMs, std::string& bytes);
    int WaitDrainedOn(const PortUse& use, int waitMs, bool& drained);
    int ApplyOn(const PortUse& use);
    int LoadOn(const PortUse& use);

    // Lends the port's handles to one public operation and gives them back at its end.
    class Lease {
    public:
        explicit Lease(Impl& impl) : impl_(impl), use_(impl.Enter()) {}
        ~Lease() {
            if (use_)
                impl_.Leave();
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        explicit operator bool() const { return use_.has_value(); }
        const PortUse& operator*() const { return *use_; }
        const PortUse* operator->() const { return &*use_; }

    private:
        Impl& impl_;
        std::optional<PortUse> use_;
    };
};

// Waits for an overlapped operation of the port to end: its completion, a close (the stop
// event) or the deadline. At a close or the deadline it cancels the operation and waits for it,
// so that on return the operation has ended and its buffer and record are free, whatever the
// outcome. `moved` gives the bytes it moved: a cancelled read or write may have moved some.
WaitResult TBlockSerial::Impl::AwaitIo(const PortUse& use, OVERLAPPED& io,
                                       Clock::time_point deadline, DWORD& moved) {
    // The stop event first: a close wins over a completion that comes at the same moment.
    const HANDLE events[2] = {use.stop, use.done};
    DWORD signalled = WAIT_TIMEOUT;
    for (;;) {
        signalled = WaitForMultipleObjects(2, events, FALSE, RemainingMs(deadline));
        // A timer tick may end a wait a little before its time.
        if (signalled != WAIT_TIMEOUT || Clock::now() >= deadline)
            break;
    }
    WaitResult result{WaitEnd::Ready};
    if (signalled == WAIT_OBJECT_0) {
        result = {WaitEnd::Closing};
    } else if (signalled == WAIT_TIMEOUT) {
        result = {WaitEnd::TimedOut};
    } else if (signalled != WAIT_OBJECT_0 + 1) {
        result = {WaitEnd::Failed, LastErrorOr(ERROR_GEN_FAILURE)};
    }
    if (result.end != WaitEnd::Ready)
        (void)CancelIoEx(use.port, &io);
    moved = 0;
    if (GetOverlappedResult(use.port, &io, &moved, TRUE)) {
        // Completed, perhaps just before the cancel: a close still ends the operation.
        return result.end == WaitEnd::Closing ? result : WaitResult{WaitEnd::Ready};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED && result.end != WaitEnd::Ready)
        return result;
    return result.end == WaitEnd::Closing ? result : WaitFailure(error);
}

// A wait that only a close ends early: no event of a COM port tells that bytes have been sent.
WaitResult TBlockSerial::Impl::WaitStop(const PortUse& use, Clock::time_point deadline) {
    for (;;) {
        const DWORD signalled = WaitForSingleObject(use.stop, RemainingMs(deadline));
        if (signalled == WAIT_OBJECT_0)
            return {WaitEnd::Closing};
        if (signalled != WAIT_TIMEOUT)
            return {WaitEnd::Failed, LastErrorOr(ERROR_GEN_FAILURE)};
        if (Clock::now() >= deadline)
            return {WaitEnd::TimedOut};
    }
}

// One overlapped read of `count` bytes. With the port's time-outs all zero it completes when
// all have come, so callers ask only for bytes the input queue holds, or for one.
WaitResult TBlockSerial::Impl::ReadFromDriver(const PortUse& use, char* buffer, DWORD count,
                                              Clock::time_point deadline, DWORD& moved) {
    OVERLAPPED io{};
    io.hEvent = use.done;
    moved = 0;
    if (ReadFile(use.port, buffer, count, nullptr, &io)) {
        if (!GetOverlappedResult(use.port, &io, &moved, FALSE))
            return WaitFailure(GetLastError());
        return {WaitEnd::Ready};
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return WaitFailure(error);
    return AwaitIo(use, io, deadline, moved);
}

// Waits for one byte to arrive, with a 1-byte read; the byte, once read, is held as input.
// Ready with nothing read means the line is gone, as a 0-byte read after readiness does on
// POSIX.
WaitResult TBlockSerial::Impl::WaitForByte(const PortUse& use, Clock::time_point deadline) {
    if (Clock::now() >= deadline)
        return {WaitEnd::TimedOut};  // a look without a wait: the count already said no
    char byte = 0;
    DWORD moved = 0;
    WaitResult w = ReadFromDriver(use, &byte, 1, deadline, moved);
    if (moved == 1) {
        heldInput.Append(byte);
        // A byte that came as the time ran out still counts as input.
        return w.end == WaitEnd::TimedOut ? WaitResult{WaitEnd::Ready} : w;
    }
    if (w.end == WaitEnd::Ready)
        return {WaitEnd::Lost};
    return w;
}

int TBlockSerial::Impl::InputCountOn(const PortUse& use, int& count) {
    count = 0;
    std::optional<COMSTAT> status = tally.Query(use.port);
    if (!status)
        return FromError(GetLastError());
    const std::size_t total = heldInput.Size() + status->cbInQue;
    count = static_cast<int>(std::min<std::size_t>(total, INT_MAX));
    return 0;
}

int TBlockSerial::Impl::OutputCountOn(const PortUse& use, int& count) {
    count = 0;
    errno = 0;
    std::optional<int> queued = probe->OutputQueueCount(use.Handle());
    if (!queued) {
        const int error = errno;
        return error != 0 ? FromError(static_cast<DWORD>(error)) : ERROR_GEN_FAILURE;
    }
    count = std::max(*queued, 0);
    return 0;
}

int TBlockSerial::Impl::WaitForInputOn(const PortUse& use, int waitMs, bool& ready) {
    return WaitForInputUntil(use, DeadlineAfter(waitMs), ready);
}

int TBlockSerial::Impl::WaitForInputUntil(const PortUse& use, Clock::time_point deadline,
                                          bool& ready) {
    ready = false;
    if (lost.load())
        return kDeviceGone;
    int queued = 0;
    if (int code = InputCountOn(use, queued); code != 0)
        return code;
    if (queued > 0) {
        ready = true;
        return 0;
    }
    WaitResult w = WaitForByte(use, deadline);
    ready = w.end == WaitEnd::Ready;
    return FailureOf(w);
}

void TBlockSerial::Impl::NoteLineErrors(const PortUse& use) {
    std::optional<LineErrorCounters> now = probe->LineErrors(use.Handle());
    if (!now)
        return;
    std::optional<LineErrorCounters> before = std::exchange(countersSeen, now);
    if (!before)
        return;
    LineErrorFlags flags{.framing = now->frame > before->frame,
                         .overrun = now->overrun > before->overrun,
                         .rxOverflow = now->bufferOverrun > before->bufferOverrun,
                         .parity = now->parity > before->parity};
    lineSeen = LineErrorCode(flags, lineSeen);
}

// A read, with the line errors the driver counted meanwhile beside its outcome.
int TBlockSerial::Impl::ReadOn(const PortUse& use, char* buffer, int count, int& got) {
    const int code = ReadQueuedOn(use, buffer, count, got);
    NoteLineErrors(use);
    return code;
}

// Reads `count` bytes: the held ones first, then what the input queue holds, then one byte at a
// time as it comes, until all have come, the I/O timeout passes (9997) or the port closes or
// goes away; `got` counts what was read.
int TBlockSerial::Impl::ReadQueuedOn(const PortUse& use, char* buffer, int count, int& got) {
    got = 0;
    if (lost.load())
        return kDeviceGone;
    const Clock::time_point deadline = DeadlineAfter(ioTimeoutMs.load());
    int code = 0;
    while (got < count) {
        got += heldInput.TakeInto(buffer + got, count - got);
        if (got == count)
            break;
        std::optional<COMSTAT> status = tally.Query(use.port);
        if (!status)
            return FromError(GetLastError());
        WaitResult w{WaitEnd::Ready};
        if (status->cbInQue > 0) {
            const DWORD want = std::min<DWORD>(status->cbInQue, static_cast<DWORD>(count - got));
            DWORD moved = 0;
            w = ReadFromDriver(use, buffer + got, want, deadline, moved);
            got += static_cast<int>(moved);
            // The queue held bytes and the read gave none: the line is gone.
            if (w.end == WaitEnd::Ready && moved == 0)
                return DeviceGone();
        } else {
            w = WaitForByte(use, deadline);
        }
        if (int failure = FailureOf(w); failure != 0)
            return failure;
        if (w.end == WaitEnd::TimedOut) {
            code = kSerialTimeout;  // the time is up; `got` tells how much came
            break;
        }
    }
    return code;
}

int TBlockSerial::Impl::WriteOn(const PortUse& use, const char* buffer, int count,
                                Clock::time_point deadline, int& put) {
    put = 0;
    if (lost.load())
        return kDeviceGone;
    int code = 0;
    while (put < count) {
        OVERLAPPED io{};
        io.hEvent = use.done;
        DWORD moved = 0;
        WaitResult w{WaitEnd::Ready};
        if (WriteFile(use.port, buffer + put, static_cast<DWORD>(count - put), nullptr, &io)) {
            if (!GetOverlappedResult(use.port, &io, &moved, FALSE))
                w = WaitFailure(GetLastError());
        } else if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
            w = WaitFailure(error);
        } else {
            w = AwaitIo(use, io, deadline, moved);
        }
        put += static_cast<int>(moved);
        if (int failure = FailureOf(w); failure != 0)
            return failure;
        if (w.end == WaitEnd::TimedOut) {
            code = kSerialTimeout;  // cancelled; `put` tells how much the driver took
            break;
        }
        // A write without time-outs that completes with nothing taken: the line is gone.
        if (moved == 0)
            return DeviceGone();
    }
    return code;
}

// About the time `queued` bytes take on the line, between 1 and 10 ms: how long a drain waits
// before it asks the queue again.
Clock::duration TBlockSerial::Impl::DrainStep(int queued) const {
    const Clock::duration onLine = WireTime(line, static_cast<std::size_t>(std::max(queued, 0)));
    return std::clamp<Clock::duration>(onLine, std::chrono::milliseconds(1),
                                       std::chrono::milliseconds(10));
}

// Until the driver's output queue is empty, within the write's deadline (FinishWriteOn).
int TBlockSerial::Impl::DrainWriteOn(const PortUse& use, Clock::time_point deadline, int& put) {
    for (;;) {
        int queued = 0;
        if (int code = OutputCountOn(use, queued); code != 0)
            return code;
        if (queued == 0)
            break;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            (void)PurgeComm(use.port, PURGE_TXABORT | PURGE_TXCLEAR);
            put -= std::min(queued, put);
            return kSerialTimeout;
        }
        WaitResult w = WaitStop(use, std::min(now + DrainStep(queued), deadline));
        if (int failure = FailureOf(w); failure != 0)
            return failure;
    }
    return 0;
}

// A write is complete when its bytes have left: the driver's output queue has drained, and not
// before the write's start plus the bytes' time on the wire at the line's settings (a driver
// that reports no queue, as Wine's, or an adapter that still sends from its own FIFO, says
// "empty" at once). Both within the write's deadline: a queue that does not drain by then is
// discarded, as an aborted write, and only the bytes that left count as written (9997).
int TBlockSerial::Impl::FinishWriteOn(const PortUse& use, Clock::time_point start,
                                      Clock::time_point deadline, int& put) {
    if (int code = DrainWriteOn(use, deadline, put); code != 0)
        return code;
    const Clock::time_point onWire =
        start + WireTime(line, static_cast<std::size_t>(std::max(put, 0)));
    while (Clock::now() < std::min(onWire, deadline)) {
        WaitResult w = WaitStop(use, std::min(onWire, deadline));
        if (int failure = FailureOf(w); failure != 0)
            return failure;
    }
    // Bytes that cannot have left within the write time-out at this rate: as on a real line.
    return onWire > deadline ? kSerialTimeout : 0;
}

int TBlockSerial::Impl::ReadAvailableOn(const PortUse& use, int waitMs, std::string& bytes) {
    bytes.clear();
    if (lost.load())
        return kDeviceGone;
    int queued = 0;
    if (int code = InputCountOn(use, queued); code != 0)
        return code;
    if (queued == 0) {
        bool ready = false;
        if (int code = WaitForInputOn(use, waitMs, ready); code != 0)
            return code;
        if (!ready)
            return kSerialTimeout;
        if (int code = InputCountOn(use, queued); code != 0)
            return code;
    }
    bytes.resize(static_cast<std::size_t>(queued));
    int got = 0;
    int code = ReadOn(use, bytes.data(), queued, got);
    bytes.resize(static_cast<std::size_t>(got));
    return code;
}

int TBlockSerial::Impl::WaitDrainedOn(const PortUse& use, int waitMs, bool& drained) {
    drained = false;
    if (lost.load())
        return kDeviceGone;
    const Clock::time_point deadline = DeadlineAfter(waitMs);
    for (;;) {
        int queued = 0;
        if (int code = OutputCountOn(use, queued); code != 0)
            return code;
        if (queued == 0) {
            drained = true;
            return 0;
        }
        if (Clock::now() >= deadline)
            return 0;
        // Look again after about the time the queued bytes take on the line.
        WaitResult w = WaitStop(use, std::min(Clock::now() + DrainStep(queued), deadline));
        if (int failure = FailureOf(w); failure != 0)
            return failure;
    }
}

int TBlockSerial::Impl::LoadOn(const PortUse& use) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(use.port, &dcb))
        return FromError(GetLastError());
    record = dcb;
    recordLoaded = true;
    settings = SettingsFromDcb(dcb);
    line = settings;
    return 0;
}

int TBlockSerial::Impl::ApplyOn(const PortUse& use) {
    if (!recordLoaded) {
        record = DCB{};
        record.DCBlength = sizeof record;
        if (!GetCommState(use.port, &record))
            return FromError(GetLastError());
        recordLoaded = true;
    }
    DCB dcb = record;
    if (int code = ApplySettingsToDcb(settings, dcb); code != 0)
        return code;
    // The driver raises or drops DTR and RTS by the flag word's control fields.
    if (!SetCommState(use.port, &dcb))
        return FromError(GetLastError());
    record = dcb;
    line = settings;
    return 0;
}

// --- Public operations -------------------------------------------------------------------

TBlockSerial::TBlockSerial() : impl_(std::make_unique<Impl>()) {}

TBlockSerial::~TBlockSerial() {
    ClosePort();
}

namespace {

// Opens the port's device for exclusive overlapped use (share mode 0: no other handle, in this
// process or another, while this one is open) and prepares it: no port events, the input
// queue's size, and time-outs all zero, so that a read waits until its count has come and a
// write until the driver has taken its bytes; every limit is the wait's own deadline. A file
// or a device without line settings is no serial port and is refused.
int OpenDevice(const std::string& path, UniqueHandle& port, DCB& dcb) {
    SetLastError(0);
    UniqueHandle opened(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (!opened.Valid())
        return LastErrorOr(ERROR_GEN_FAILURE);
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(opened.Get(), &dcb))
        return LastErrorOr(ERROR_INVALID_FUNCTION);
    (void)SetCommMask(opened.Get(), 0);
    (void)SetupComm(opened.Get(), kInQueueSize, 0);
    // Unlike the mask and the queue size, the time-outs must hold: left as another program
    // set them, a read could end at once with nothing and the line would look gone.
    COMMTIMEOUTS timeouts{};
    if (!SetCommTimeouts(opened.Get(), &timeouts))
        return LastErrorOr(ERROR_GEN_FAILURE);
    port = std::move(opened);
    return 0;
}

}  // namespace

void TBlockSerial::OpenPort(const std::string& name) {
    Impl& m = *impl_;
    if (m.state.load() != Impl::OpenState::Closed) {
        m.Record(kSerialAlreadyInUse);
        return;
    }
    m.pending.Clear();
    m.heldInput.Clear();
    const ResolvedPortName resolved = ResolvePortName(name);
    m.portNumber.store(resolved.portNumber);
    m.deviceName = resolved.devicePath;
    m.recordLoaded = false;

    UniqueHandle port;
    DCB dcb{};
    if (int code = OpenDevice(resolved.devicePath, port, dcb); code != 0) {
        m.Record(code);
        return;
    }
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop.Valid() || !done.Valid()) {
        m.Record(LastErrorOr(ERROR_GEN_FAILURE));
        return;
    }
    m.Note(kLowLatencyNote);
    m.line = SettingsFromDcb(dcb);
    m.lost.store(false);
    m.probe->PortOpened(AsInt(port.Get()));
    m.countersSeen = m.probe->LineErrors(AsInt(port.Get()));
    // Waits of a few milliseconds (a byte's time, the wire time of a poll) need the system
    // timer at its finest while the port is open; its default tick is 15.6 ms.
    (void)timeBeginPeriod(1);
    {
        std::lock_guard lock(m.mutex);
        m.port = std::move(port);
        m.stop = std::move(stop);
        m.done = std::move(done);
        m.state.store(Impl::OpenState::Open);
    }
    m.Record(kSerialOk);
    SetRts(true);
    SetDtr(true);
    DiscardAll();
}

void TBlockSerial::ClosePort() {
    Impl& m = *impl_;
    std::lock_guard closing(m.closeMutex);
    UniqueHandle port;
    UniqueHandle stop;
    UniqueHandle done;
    {
        std::unique_lock lock(m.mutex);
        if (m.state.load() == Impl::OpenState::Open) {
            m.state.store(Impl::OpenState::Closing);
            // Before any interrupted operation records its own failure.
            m.RecordClosed();
            (void)SetEvent(m.stop.Get());
            m.idle.wait(lock, [&m] { return m.inFlight == 0; });
            port = std::move(m.port);
            stop = std::move(m.stop);
            done = std::move(m.done);
        }
    }
    if (port.Valid()) {
        // Nothing else uses the handle now. Its outcome is not recorded: the worker may be
        // reading the code of its own interrupted operation.
        (void)PurgeComm(port.Get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        (void)EscapeCommFunction(port.Get(), CLRRTS);
        (void)EscapeCommFunction(port.Get(), CLRDTR);
        port.Reset();
        stop.Reset();
        done.Reset();
        (void)timeEndPeriod(1);
    } else {
        m.RecordClosed();
    }
    m.portNumber.store(-1);
    m.lost.store(false);
    std::lock_guard lock(m.mutex);
    m.state.store(Impl::OpenState::Closed);
}

void TBlockSerial::LoadPortState() {
    Impl::Lease use(*impl_);
    impl_->Record(use ? impl_->LoadOn(*use) : ERROR_INVALID_HANDLE);
}

void TBlockSerial::ApplyPortState() {
    Impl::Lease use(*impl_);
    impl_->Record(use ? impl_->ApplyOn(*use) : ERROR_INVALID_HANDLE);
}

PortSettings& TBlockSerial::PortState() {
    return impl_->settings;
}

int TBlockSerial::WriteText(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        impl_->Record(PortReady() ? int{ERROR_INVALID_PARAMETER} : int{kSerialNotConnected});
        return 0;
    }
    return WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
}

int TBlockSerial::WriteBytes(const void* buffer, int count) {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->Record(kSerialNotConnected);
        return 0;
    }
    if (count < 0 || (count > 0 && buffer == nullptr)) {
        impl_->Record(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The write time-out bounds the whole write: handing the bytes over, the drain and the
    // bytes' time on the wire.
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(impl_->ioTimeoutMs.load());
    int put = 0;
    int code = impl_->WriteOn(*use, static_cast<const char*>(buffer), count, deadline, put);
    impl_->Traced(TraceDirection::Sent, static_cast<const char*>(buffer), put);
    if (put > 0)
        impl_->probe->BytesQueued(use->Handle(), put);
    // A line error is news of the input; it never spares the write its drain and wire time.
    if (code == kSerialOk)
        code = impl_->FinishWriteOn(*use, start, deadline, put);
    // Looked at once the bytes have left: what the line went through meanwhile is the write's.
    impl_->NoteLineErrors(*use);
    impl_->Record(code);
    return put;
}

int TBlockSerial::WriteTextThenWaitForInput(std::string_view bytes, int waitMs, bool& answered) {
    answered = false;
    Impl& m = *impl_;
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        m.Record(PortReady() ? int{ERROR_INVALID_PARAMETER} : int{kSerialNotConnected});
        return 0;
    }
    Impl::Lease use(m);
    if (!use) {
        m.Record(kSerialNotConnected);
        return 0;
    }
    const int count = static_cast<int>(bytes.size());
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(m.ioTimeoutMs.load());
    int put = 0;
    int code = m.WriteOn(*use, bytes.data(), count, deadline, put);
    m.Traced(TraceDirection::Sent, bytes.data(), put);
    if (put > 0)
        m.probe->BytesQueued(use->Handle(), put);
    if (code == kSerialOk)
        code = m.DrainWriteOn(*use, deadline, put);
    const Clock::time_point onWire =
        start + WireTime(m.line, static_cast<std::size_t>(std::max(put, 0)));
    if (code == kSerialOk && onWire > deadline)
        code = m.FinishWriteOn(*use, start, deadline, put);  // cannot be on the wire in time
    m.NoteLineErrors(*use);
    // The wait for the answer counts from the moment the last byte is on the wire and also
    // covers the bytes' time there: one wake-up where a write and a wait would take two.
    if (code == kSerialOk && !m.pending.Empty())
        answered = true;  // bytes kept from an earlier read
    else if (code == kSerialOk)
        code = m.WaitForInputUntil(
            *use, std::max(Clock::now(), onWire) + std::chrono::milliseconds(std::max(waitMs, 0)),
            answered);
    // Input before the bytes are on the wire (noise, or a line that delivers at once) does not
    // make the write complete early: whatever the caller writes next follows it on the wire.
    while (code == kSerialOk && Clock::now() < onWire) {
        if (int failure = m.FailureOf(m.WaitStop(*use, onWire)); failure != 0)
            code = failure;
    }
    m.Record(code);
    return put;
}

int TBlockSerial::ReadBytes(void* buffer, int count) {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->pending.Clear();
        impl_->Record(kSerialNotConnected);
        return 0;
    }
    if (count < 0 || (count > 0 && buffer == nullptr)) {
        impl_->Record(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int got = 0;
    impl_->Record(impl_->ReadOn(*use, static_cast<char*>(buffer), count, got));
    impl_->Traced(TraceDirection::Received, static_cast<const char*>(buffer), got);
    return got;
}

std::string TBlockSerial::ReadAvailable(int waitMs) {
    Impl& m = *impl_;
    if (!m.IsOpen()) {
        m.pending.Clear();
        m.Record(kSerialNotConnected);
        return {};
    }
    if (!m.pending.Empty()) {
        m.Record(kSerialOk);
        return m.pending.TakeAll();
    }
    Impl::Lease use(m);
    if (!use) {
        m.Record(kSerialNotConnected);
        return {};
    }
    std::string bytes;
    m.Record(m.ReadAvailableOn(*use, waitMs, bytes));
    m.Traced(TraceDirection::Received, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

std::uint8_t TBlockSerial::ReadByte(int waitMs) {
    Impl& m = *impl_;
    if (!m.IsOpen()) {
        m.pending.Clear();
        m.Record(kSerialNotConnected);
        return 0;
    }
    if (!m.pending.Empty()) {
        m.Record(kSerialOk);
        return m.pending.PopFront();
    }
    Impl::Lease use(m);
    if (!use) {
        m.Record(kSerialNotConnected);
        return 0;
    }
    std::string bytes;
    const int code = m.ReadAvailableOn(*use, waitMs, bytes);
    m.Traced(TraceDirection::Received, bytes.data(), static_cast<int>(bytes.size()));
    m.pending.Assign(std::move(bytes));
    const bool lineError = m.lineSeen != 0;
    m.Record(code);
    // After a line error the bytes stay pending; the next call hands out the first of them.
    if (code != kSerialOk || lineError || m.pending.Empty())
        return 0;
    return m.pending.PopFront();
}

int TBlockSerial::InputCount() {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->Record(ERROR_INVALID_HANDLE);
        return 0;
    }
    int count = 0;
    impl_->Record(impl_->InputCountOn(*use, count));
    return count;
}

int TBlockSerial::OutputCount() {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->Record(ERROR_INVALID_HANDLE);
        return 0;
    }
    int count = 0;
    impl_->Record(impl_->OutputCountOn(*use, count));
    return count;
}

bool TBlockSerial::WaitForInput(int waitMs) {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->Record(kSerialNotConnected);
        return false;
    }
    bool ready = false;
    impl_->Record(impl_->WaitForInputOn(*use, waitMs, ready));
    return ready;
}

bool TBlockSerial::HasInput(int waitMs) {
    Impl& m = *impl_;
    if (!m.IsOpen()) {
        m.pending.Clear();
        m.Record(kSerialNotConnected);
        return false;
    }
    if (!m.pending.Empty())
        return true;
    return WaitForInput(waitMs);
}

bool TBlockSerial::WaitOutputDrained(int waitMs) {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->Record(kSerialNotConnected);
        return false;
    }
    bool drained = false;
    impl_->Record(impl_->WaitDrainedOn(*use, waitMs, drained));
    return drained;
}

void TBlockSerial::Impl::Discard(DWORD purge) {
    pending.Clear();
    heldInput.Clear();
    Lease use(*this);
    if (!use) {
        Record(ERROR_INVALID_HANDLE);
        return;
    }
    const int code = PurgeComm(use->port, purge) ? 0 : FromError(GetLastError());
    if ((purge & PURGE_RXCLEAR) != 0 && code == 0) {
        // The line errors counted so far concern the input dropped with them.
        NoteLineErrors(*use);
        lineSeen = 0;
    }
    Record(code);
}

void TBlockSerial::DiscardAll() {
    impl_->Discard(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void TBlockSerial::DiscardInput() {
    impl_->Discard(PURGE_RXABORT | PURGE_RXCLEAR);
}

namespace {
int SetModemLine(HANDLE port, DWORD function) {
    return EscapeCommFunction(port, function) ? 0 : LastErrorOr(ERROR_NOT_SUPPORTED);
}
}  // namespace

void TBlockSerial::SetDtr(bool on) {
    Impl::Lease use(*impl_);
    impl_->Record(use ? SetModemLine(use->port, on ? DWORD{SETDTR} : DWORD{CLRDTR})
                      : ERROR_INVALID_HANDLE);
}

void TBlockSerial::SetRts(bool on) {
    Impl::Lease use(*impl_);
    impl_->Record(use ? SetModemLine(use->port, on ? DWORD{SETRTS} : DWORD{CLRRTS})
                      : ERROR_INVALID_HANDLE);
}

bool TBlockSerial::PortLost() const {
    return impl_->lost.load();
}

int TBlockSerial::LastErrorCode() const {
    return impl_->lastError.load();
}

int TBlockSerial::LastLineError() const {
    return impl_->lastLineError.load();
}

std::string TBlockSerial::LastErrorText() const {
    return ErrorText(LastErrorCode());
}

const std::string& TBlockSerial::DeviceName() const {
    return impl_->deviceName;
}

int TBlockSerial::PortNumber() const {
    return impl_->portNumber.load();
}

bool TBlockSerial::PortReady() const {
    return impl_->IsOpen();
}

int TBlockSerial::InQueueSize() const {
    return kInQueueSize;
}

int TBlockSerial::IoTimeout() const {
    return impl_->ioTimeoutMs.load();
}

void TBlockSerial::SetIoTimeout(int ms) {
    impl_->ioTimeoutMs.store(std::max(ms, 0));
}

void TBlockSerial::SetLineStatusProbe(std::unique_ptr<LineStatusProbe> probe) {
    Impl& m = *impl_;
    m.probe = probe ? std::move(probe) : std::make_unique<CommStatusProbe>(m.tally);
    Impl::Lease use(m);
    m.countersSeen = use ? m.probe->LineErrors(use->Handle()) : std::nullopt;
}

void TBlockSerial::SetTraceHook(TraceHook hook) {
    impl_->trace = std::move(hook);
}

}  // namespace tallyport
