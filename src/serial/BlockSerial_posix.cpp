#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>

#include "base/UniqueFd.h"
#include "serial/BlockSerial.h"
#include "serial/LineRate.h"
#include "serial/LineTime.h"
#include "serial/LowLatency.h"
#include "serial/PortName.h"
#include "serial/SerialErrors.h"
#include "serial/TermiosSettings.h"

namespace tallyport {

// strerror_r comes in two forms (XSI returns int, GNU returns the text); take either.
namespace {
[[maybe_unused]] const char* ErrorBuffer(int rc, const char* buffer) {
    return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorBuffer(const char* text, const char*) {
    return text;
}
}  // namespace

std::string PlatformErrorText(int code) {
    char buffer[256] = {};
    const char* text = ErrorBuffer(strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0')
        return "Unknown error " + std::to_string(code);
    return text;
}

std::string DevicePathForPort(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber);
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInQueueSize = 4096;
constexpr int kDefaultIoTimeoutMs = 30000;

// Errors after which the device is gone: a hung-up terminal answers EIO, a removed one ENXIO or
// ENODEV.
bool MeansDeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// Milliseconds left until `deadline`, rounded up so that a wait never ends early.
int RemainingMs(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

// Time left until `deadline` for ppoll, never negative.
timespec RemainingTime(Clock::time_point deadline) {
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanos.count())};
}

Clock::time_point DeadlineAfter(int waitMs) {
    return Clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
}

PlainTermios ToPlain(const termios& t) {
    PlainTermios p;
    p.iflag = t.c_iflag;
    p.oflag = t.c_oflag;
    p.cflag = t.c_cflag;
    p.lflag = t.c_lflag;
    p.line = t.c_line;
    std::copy_n(t.c_cc, std::min(std::size(t.c_cc), std::size(p.cc)), p.cc);
    return p;
}

// The terminal driver's own answers.
class TerminalStatusProbe final : public LineStatusProbe {
public:
    std::optional<int> OutputQueueCount(std::intptr_t handle) override {
        int count = 0;
        if (ioctl(static_cast<int>(handle), TIOCOUTQ, &count) != 0)
            return std::nullopt;
        return count;
    }
    // The driver keeps int counters; read as unsigned they keep counting up past INT_MAX.
    std::optional<LineErrorCounters> LineErrors(std::intptr_t handle) override {
        serial_icounter_struct c{};
        if (ioctl(static_cast<int>(handle), TIOCGICOUNT, &c) != 0)
            return std::nullopt;
        return LineErrorCounters{.frame = static_cast<std::uint32_t>(c.frame),
                                 .overrun = static_cast<std::uint32_t>(c.overrun),
                                 .bufferOverrun = static_cast<std::uint32_t>(c.buf_overrun),
                                 .parity = static_cast<std::uint32_t>(c.parity)};
    }
};

// Received bytes not yet handed out, taken from the front without moving the rest.
class PendingBytes {
public:
    bool Empty() const { return head_ == data_.size(); }
    void Clear() {
        data_.clear();
        head_ = 0;
    }
    void Assign(std::string bytes) {
        data_ = std::move(bytes);
        head_ = 0;
    }
    std::uint8_t PopFront() { return static_cast<std::uint8_t>(data_[head_++]); }
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

    // The descriptors of an open port, lent to one operation. While any is lent, ClosePort
    // waits before it closes them.
    struct PortUse {
        int fd;
        int wake;
    };

    Impl() : probe(std::make_unique<TerminalStatusProbe>()) {}

    // --- Shared with ClosePort, which any thread may call ---------------------------------
    std::mutex closeMutex;  // one ClosePort at a time
    std::mutex mutex;       // guards port, wake and inFlight
    std::condition_variable idle;
    UniqueFd port;
    UniqueFd wake;  // eventfd: ClosePort makes it readable to end every wait at once
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
    PortSettings settings;
    // The settings the line runs at now (read at open, then as loaded or applied): they pace
    // the writes, whatever PortState holds meanwhile.
    PortSettings line;
    termios record{};  // the record LoadPortState read; ApplyPortState writes on top of it
    bool recordLoaded = false;
    std::unique_ptr<LineStatusProbe> probe;
    std::optional<LineErrorCounters> countersSeen;
    // The receive-line error the operation in progress has seen; Record publishes it beside the
    // operation's own code and clears it.
    int lineSeen = 0;
    // The modem lines as last asked for, reported for a port that cannot tell its own.
    ModemLines linesAsked;
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
        return PortUse{port.Get(), wake.Get()};
    }
    void Leave() {
        std::lock_guard lock(mutex);
        if (--inFlight == 0)
            idle.notify_all();
    }

    int DeviceGone() {
        lost.store(true);
        return EIO;
    }
    int FromErrno(int error) { return MeansDeviceGone(error) ? DeviceGone() : error; }
    // Drops PendingInput and the driver's queues named by `queues` (a tcflush selector).
    void Discard(int queues);
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

    WaitResult WaitOn(const PortUse& use, short events, Clock::time_point deadline);
    int InputCountOn(const PortUse& use, int& count);
    int OutputCountOn(const PortUse& use, int& count);
    int WaitForInputOn(const PortUse& use, int waitMs, bool& ready);
    int WaitForInputUntil(const PortUse& use, Clock::time_point deadline, bool& ready);
    // Reads or writes `count` bytes through `move` (given the count done so far, one read or
    // write call) until all have moved, the I/O timeout passes (9997) or the port closes or goes
    // away; `done` counts what moved. `events` is what the port waits for between calls.
    template <typename Move>
    int TransferOn(const PortUse& use, short events, Clock::time_point deadline, int count,
                   int& done, Move move);
    int ReadOn(const PortUse& use, char* buffer, int count, int& got);
    int WriteOn(const PortUse& use, const char* buffer, int count, Clock::time_point deadline,
                int& put);
    int FinishWriteOn(const PortUse& use, Clock::time_point start, Clock::time_point deadline,
                      int& put);
    // The first part of FinishWriteOn: until the driver's output queue is empty.
    int DrainWriteOn(const PortUse& use, Clock::time_point deadline, int& put);
    Clock::duration DrainStep(int queued) const;
    void ReadLineAt(int fd);
    int ReadAfterReadiness(const PortUse& use, std::string& bytes);
    // Takes the driver's line-error counters and keeps what moved since the last look in
    // lineSeen (the code of the last condition in the mapping's order).
    void NoteLineErrors(const PortUse& use);
    int ReadAvailableOn(const PortUse& use, int waitMs, std::string& bytes);
    int WaitDrainedOn(const PortUse& use, int waitMs, bool& drained);
    int ApplyOn(const PortUse& use);
    int LoadOn(const PortUse& use);

    // Lends the port's descriptors to one public operation and gives them back at its end.
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

WaitResult TBlockSerial::Impl::WaitOn(const PortUse& use, short events,
                                      Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{use.fd, events, 0}, {use.wake, POLLIN, 0}};
        // To the microsecond: a wait for the bytes' time on the wire is a few ms, and poll's
        // whole milliseconds would add up to one to every write.
        const timespec left = RemainingTime(deadline);
        int rc = ppoll(fds, 2, &left, nullptr);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return {WaitEnd::Failed, errno};
        }
        if (fds[1].revents != 0)
            return {WaitEnd::Closing};
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return {WaitEnd::Lost};
        if (fds[0].revents & events)
            return {WaitEnd::Ready};
        if (Clock::now() >= deadline)
            return {WaitEnd::TimedOut};
    }
}

int TBlockSerial::Impl::InputCountOn(const PortUse& use, int& count) {
    count = 0;
    int queued = 0;
    if (ioctl(use.fd, FIONREAD, &queued) != 0)
        return FromErrno(errno);
    count = queued;
    return 0;
}

int TBlockSerial::Impl::OutputCountOn(const PortUse& use, int& count) {
    count = 0;
    errno = 0;
    std::optional<int> queued = probe->OutputQueueCount(use.fd);
    if (!queued) {
        const int error = errno;
        return error != 0 ? FromErrno(error) : EIO;
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
        return EIO;
    int queued = 0;
    if (int code = InputCountOn(use, queued); code != 0)
        return code;
    if (queued > 0) {
        ready = true;
        return 0;
    }
    WaitResult w = WaitOn(use, POLLIN, deadline);
    ready = w.end == WaitEnd::Ready;
    return FailureOf(w);
}

void TBlockSerial::Impl::NoteLineErrors(const PortUse& use) {
    std::optional<LineErrorCounters> now = probe->LineErrors(use.fd);
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

template <typename Move>
int TBlockSerial::Impl::TransferOn(const PortUse& use, short events, Clock::time_point deadline,
                                   int count, int& done, Move move) {
    done = 0;
    if (lost.load())
        return EIO;
    bool sawReady = false;
    int code = 0;
    while (done < count) {
        ssize_t r = move(done);
        if (r > 0) {
            done += static_cast<int>(r);
            sawReady = false;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return FromErrno(errno);
        // Nothing moved. Right after the port reported readiness, that means the line is gone.
        if (r == 0 && sawReady)
            return DeviceGone();
        WaitResult w = WaitOn(use, events, deadline);
        if (w.end == WaitEnd::Ready) {
            sawReady = true;
            continue;
        }
        if (int failure = FailureOf(w); failure != 0)
            return failure;
        code = kSerialTimeout;  // the time is up; `done` tells how much moved
        break;
    }
    return code;
}

int TBlockSerial::Impl::ReadOn(const PortUse& use, char* buffer, int count, int& got) {
    const int code =
        TransferOn(use, POLLIN, DeadlineAfter(ioTimeoutMs.load()), count, got, [&](int done) {
            return read(use.fd, buffer + done, static_cast<std::size_t>(count - done));
        });
    NoteLineErrors(use);
    return code;
}

int TBlockSerial::Impl::WriteOn(const PortUse& use, const char* buffer, int count,
                                Clock::time_point deadline, int& put) {
    return TransferOn(use, POLLOUT, deadline, count, put, [&](int done) {
        return write(use.fd, buffer + done, static_cast<std::size_t>(count - done));
    });
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
            (void)tcflush(use.fd, TCOFLUSH);
            put -= std::min(queued, put);
            return kSerialTimeout;
        }
        // No poll event tells "sent"; the wait only notices a close or a hang-up meanwhile.
        WaitResult w = WaitOn(use, 0, std::min(now + DrainStep(queued), deadline));
        if (int failure = FailureOf(w); failure != 0)
            return failure;
    }
    return 0;
}

// A write is complete when its bytes have left: the driver's output queue has drained, and not
// before the write's start plus the bytes' time on the wire at the line's settings (a pseudo-
// terminal, or an adapter that still holds bytes in its own FIFO, reports an empty queue at
// once). Both within the write's deadline: a queue that does not drain by then is discarded,
// as an aborted write, and only the bytes that left count as written (9997).
int TBlockSerial::Impl::FinishWriteOn(const PortUse& use, Clock::time_point start,
                                      Clock::time_point deadline, int& put) {
    if (int code = DrainWriteOn(use, deadline, put); code != 0)
        return code;
    const Clock::time_point onWire =
        start + WireTime(line, static_cast<std::size_t>(std::max(put, 0)));
    while (Clock::now() < std::min(onWire, deadline)) {
        WaitResult w = WaitOn(use, 0, std::min(onWire, deadline));
        if (int failure = FailureOf(w); failure != 0)
            return failure;
    }
    // Bytes that cannot have left within the write time-out at this rate: as on a real line.
    return onWire > deadline ? kSerialTimeout : 0;
}

// The port reported input but counts none: read what comes; nothing at all means it is gone.
int TBlockSerial::Impl::ReadAfterReadiness(const PortUse& use, std::string& bytes) {
    char buffer[kInQueueSize];
    ssize_t r;
    do {
        r = read(use.fd, buffer, sizeof buffer);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? kSerialTimeout : FromErrno(errno);
    }
    if (r == 0)
        return DeviceGone();
    bytes.assign(buffer, static_cast<std::size_t>(r));
    NoteLineErrors(use);
    return 0;
}

int TBlockSerial::Impl::ReadAvailableOn(const PortUse& use, int waitMs, std::string& bytes) {
    bytes.clear();
    if (lost.load())
        return EIO;
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
        if (queued == 0)
            return ReadAfterReadiness(use, bytes);
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
        return EIO;
    const Clock::time_point deadline = DeadlineAfter(waitMs);
    for (;;) {
        int queued = 0;
        if (int code = OutputCountOn(use, queued); code != 0)
            return code;
        if (queued == 0) {
            drained = true;
            return 0;
        }
        int left = RemainingMs(deadline);
        if (left == 0)
            return 0;
        // Look again after about the time the queued bytes take on the line.
        // No poll event tells "sent"; the wait only notices a close or a hang-up meanwhile.
        WaitResult w = WaitOn(use, 0, std::min(Clock::now() + DrainStep(queued), deadline));
        if (int failure = FailureOf(w); failure != 0)
            return failure;
    }
}

int TBlockSerial::Impl::LoadOn(const PortUse& use) {
    termios t{};
    if (tcgetattr(use.fd, &t) != 0)
        return FromErrno(errno);
    std::uint32_t rate = 0;
    if (GetLineRate(use.fd, rate) != 0)
        rate = RateOfSpeedConstant(cfgetospeed(&t));
    ModemLines lines = linesAsked;
    int bits = 0;
    if (ioctl(use.fd, TIOCMGET, &bits) == 0) {
        lines.dtr = (bits & TIOCM_DTR) != 0;
        lines.rts = (bits & TIOCM_RTS) != 0;
    }
    record = t;
    recordLoaded = true;
    settings = SettingsFromTermios(t, rate, lines);
    line = settings;
    return 0;
}

// The line's settings as the driver holds them, for pacing before any load or apply.
void TBlockSerial::Impl::ReadLineAt(int fd) {
    termios t{};
    line = PortSettings{};
    if (tcgetattr(fd, &t) != 0)
        return;
    std::uint32_t rate = 0;
    if (GetLineRate(fd, rate) != 0)
        rate = RateOfSpeedConstant(cfgetospeed(&t));
    line = SettingsFromTermios(t, rate, linesAsked);
}

int TBlockSerial::Impl::ApplyOn(const PortUse& use) {
    if (!recordLoaded) {
        if (tcgetattr(use.fd, &record) != 0)
            return FromErrno(errno);
        recordLoaded = true;
    }
    termios t = record;
    if (int code = ApplySettingsToTermios(settings, t); code != 0)
        return code;
    if (std::optional<speed_t> speed = SpeedConstant(settings.BaudRate)) {
        cfsetospeed(&t, *speed);
        cfsetispeed(&t, *speed);
        t.c_cflag &= ~CIBAUD;  // the input runs at the output rate
        if (tcsetattr(use.fd, TCSANOW, &t) != 0)
            return FromErrno(errno);
    } else if (int code = SetTermiosWithRate(use.fd, ToPlain(t), settings.BaudRate); code != 0) {
        return FromErrno(code);
    }
    record = t;
    line = settings;

    const ModemLines lines = ModemLinesFor(settings.Flags);
    linesAsked = lines;
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    for (auto [bits, on] : {std::pair{&dtr, lines.dtr}, std::pair{&rts, lines.rts}}) {
        // A pseudo-terminal has no modem lines; that does not make the settings fail.
        if (ioctl(use.fd, on ? TIOCMBIS : TIOCMBIC, bits) != 0 && errno != ENOTTY &&
            errno != EINVAL) {
            return FromErrno(errno);
        }
    }
    return 0;
}

// --- Public operations -------------------------------------------------------------------

TBlockSerial::TBlockSerial() : impl_(std::make_unique<Impl>()) {}

TBlockSerial::~TBlockSerial() {
    ClosePort();
}

void TBlockSerial::OpenPort(const std::string& name) {
    Impl& m = *impl_;
    if (m.state.load() != Impl::OpenState::Closed) {
        m.Record(kSerialAlreadyInUse);
        return;
    }
    m.pending.Clear();
    const ResolvedPortName resolved = ResolvePortName(name);
    m.portNumber.store(resolved.portNumber);
    m.deviceName = resolved.devicePath;
    m.recordLoaded = false;

    UniqueFd fd(open(resolved.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        m.Record(errno);
        return;
    }
    if (!isatty(fd.Get())) {
        m.Record(ENOTTY);  // a plain file or another device is no serial port
        return;
    }
    // Exclusive use: flock holds against every process that also asks for it, root included;
    // TIOCEXCL stops other non-root opens.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        m.Record(errno == EWOULDBLOCK ? EBUSY : errno);
        return;
    }
    (void)ioctl(fd.Get(), TIOCEXCL);
    // A late confirmation from a register is often only an adapter holding the byte back.
    if (const int refused = RequestLowLatency(fd.Get()); refused != 0)
        m.Note("low-latency mode refused by the driver (" + PlatformErrorText(refused) + ")");
    UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.Valid()) {
        m.Record(errno);
        return;
    }
    // Reads return at once with what the input queue holds; waits are poll's business.
    termios t{};
    if (tcgetattr(fd.Get(), &t) == 0) {
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        (void)tcsetattr(fd.Get(), TCSANOW, &t);
    }
    m.ReadLineAt(fd.Get());
    m.lost.store(false);
    m.probe->PortOpened(fd.Get());
    m.countersSeen = m.probe->LineErrors(fd.Get());
    {
        std::lock_guard lock(m.mutex);
        m.port = std::move(fd);
        m.wake = std::move(wake);
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
    UniqueFd port;
    UniqueFd wake;
    {
        std::unique_lock lock(m.mutex);
        if (m.state.load() == Impl::OpenState::Open) {
            m.state.store(Impl::OpenState::Closing);
            // Before any interrupted operation records its own failure.
            m.RecordClosed();
            const std::uint64_t one = 1;
            (void)!write(m.wake.Get(), &one, sizeof one);
            m.idle.wait(lock, [&m] { return m.inFlight == 0; });
            port = std::move(m.port);
            wake = std::move(m.wake);
        }
    }
    if (port.Valid()) {
        // Nothing else uses the descriptor now. Its outcome is not recorded: the worker may be
        // reading the code of its own interrupted operation.
        (void)tcflush(port.Get(), TCIOFLUSH);
        int lines = TIOCM_RTS | TIOCM_DTR;
        (void)ioctl(port.Get(), TIOCMBIC, &lines);
        // The exclusive flag outlives the descriptor where the line stays up (a pseudo-terminal
        // whose other side is open) and would keep every later non-root open out.
        (void)ioctl(port.Get(), TIOCNXCL);
        port.Reset();
        wake.Reset();
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
    impl_->Record(use ? impl_->LoadOn(*use) : EBADF);
}

void TBlockSerial::ApplyPortState() {
    Impl::Lease use(*impl_);
    impl_->Record(use ? impl_->ApplyOn(*use) : EBADF);
}

PortSettings& TBlockSerial::PortState() {
    return impl_->settings;
}

int TBlockSerial::WriteText(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        impl_->Record(PortReady() ? EINVAL : kSerialNotConnected);
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
        impl_->Record(EINVAL);
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
        impl_->probe->BytesQueued(use->fd, put);
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
        m.Record(PortReady() ? EINVAL : kSerialNotConnected);
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
        m.probe->BytesQueued(use->fd, put);
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
        if (int failure = m.FailureOf(m.WaitOn(*use, 0, onWire)); failure != 0)
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
        impl_->Record(EINVAL);
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
        impl_->Record(EBADF);
        return 0;
    }
    int count = 0;
    impl_->Record(impl_->InputCountOn(*use, count));
    return count;
}

int TBlockSerial::OutputCount() {
    Impl::Lease use(*impl_);
    if (!use) {
        impl_->Record(EBADF);
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

void TBlockSerial::Impl::Discard(int queues) {
    pending.Clear();
    Lease use(*this);
    if (!use) {
        Record(EBADF);
        return;
    }
    const int code = tcflush(use->fd, queues) == 0 ? 0 : FromErrno(errno);
    if ((queues == TCIFLUSH || queues == TCIOFLUSH) && code == 0) {
        // The line errors counted so far concern the input dropped with them.
        NoteLineErrors(*use);
        lineSeen = 0;
    }
    Record(code);
}

void TBlockSerial::DiscardAll() {
    impl_->Discard(TCIOFLUSH);
}

void TBlockSerial::DiscardInput() {
    impl_->Discard(TCIFLUSH);
}

namespace {
int SetModemLine(int fd, int line, bool on) {
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 ? 0 : errno;
}
}  // namespace

void TBlockSerial::SetDtr(bool on) {
    Impl::Lease use(*impl_);
    if (use)
        impl_->linesAsked.dtr = on;
    impl_->Record(use ? SetModemLine(use->fd, TIOCM_DTR, on) : EBADF);
}

void TBlockSerial::SetRts(bool on) {
    Impl::Lease use(*impl_);
    if (use)
        impl_->linesAsked.rts = on;
    impl_->Record(use ? SetModemLine(use->fd, TIOCM_RTS, on) : EBADF);
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
    m.probe = probe ? std::move(probe) : std::make_unique<TerminalStatusProbe>();
    Impl::Lease use(m);
    m.countersSeen = use ? m.probe->LineErrors(use->fd) : std::nullopt;
}

void TBlockSerial::SetTraceHook(TraceHook hook) {
    impl_->trace = std::move(hook);
}

}  // namespace tallyport
