#include "link/SerialThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "base/ThreadPriority.h"
#include "link/LinkFrame.h"
#include "link/LinkProtocol.h"

namespace tallyport {

namespace {

using Clock = std::chrono::steady_clock;

// Shortest time between two attempts to open a port that is not there (yet, or any more).
constexpr auto ReopenInterval = std::chrono::milliseconds(1000);
constexpr auto CyclePace = std::chrono::milliseconds(ByteTimeout);

std::string OpenFailureText(const TSerialExtended& link) {
    return TBlockSerial::ErrorText(link.OpenError());
}

}  // namespace

// The worker's thread and what it shares with the shell's thread. `mutex` guards `stop` and
// every open or close of the port made while the worker runs, so StopLink's close can never
// cross a re-open. Lock order: the turn lock (link.TurnLock()) before `mutex`, never the other
// way.
struct TSerialThread::Loop {
    Loop(TSerialExtended& l, ThreadPriority p) : link(l), priority(p) {}

    void Run();
    bool Cycle();
    void Recover();
    void ClosePortFor(const std::string& why);
    bool Reopen();
    void OpenFailed();
    void Pause(std::chrono::milliseconds time);
    bool StopRequested();

    TSerialExtended& link;
    const ThreadPriority priority;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::atomic<bool> running{false};
    // The worker's own, between its start and its end:
    std::optional<Clock::time_point> lastReopen;
    // The loop opened the port again: it counts as working once a poll has gone out on it.
    bool reopened = false;
    std::string lastFailure;  // why the last attempt to open failed, as the trace last said
};

void TSerialThread::Loop::Run() {
    if (priority == ThreadPriority::Lowest) {
        LowerThisThreadsPriority();
    }
    while (!StopRequested()) {
        try {
            if (!link.Port.PortReady() || link.Port.PortLost() || link.TransmitterStuck()) {
                Recover();
            } else {
                link.BeforeCycle();
                if (!StopRequested() && !Cycle()) {
                    // Nothing was sent, so nothing paced this cycle: wait one ByteTimeout
                    // rather than spin on a busy output queue.
                    Pause(CyclePace);
                }
            }
        } catch (...) {
            Pause(CyclePace);  // out of memory or the like: keep serving once it passes
        }
    }
    running.store(false);
}

// One service cycle: poll, receive at most one frame, acknowledge and dispatch it. False when
// the poll could not be sent.
//
// The cycle is the register's turn on the link: it holds the turn lock from the poll through
// the reception and the acknowledgement, and for the handlers that answer the register (article
// requests: lookup, reply, confirmation) through the handler too. Handing the lock on in the
// middle would make this register wait through every other register's turn while its frame or
// its customer waits. The other handlers run after the turn: their file appends and syncs
// must never hold up the other registers. The turn lock is LinkLock, FIFO, so that turns go
// round the registers in order, or with parallel lines the link's own, which nobody else waits
// for: one cycle either way.
bool TSerialThread::Loop::Cycle() {
    std::unique_lock<FairRecursiveMutex> turn(link.TurnLock());
    if (link.TakeLateConfirmation()) {
        return true;  // a sale recorded: its journal is waited for before the next poll
    }
    if (!link.PollRegister()) {
        return false;
    }
    if (reopened) {
        reopened = false;
        link.Status.PortWorking();  // a poll went out on the port opened again
    }
    const std::string received = link.ReceiveFrame();
    if (!AcceptFrame(received)) {
        return true;  // silence, a stray byte or a broken frame: dropped without an answer
    }

    // ---- Place for a CRC check of received frames ----------------------------------------
    // The two CRC bytes are read and carried along but not compared: which bytes the
    // registers' own CRC covers is not known, and a check that refused their good frames
    // would stop all traffic. A check added here sees the whole received string; a frame it
    // rejects must return here, before the acknowledgement, like any other rejected frame.
    //
    // What the port itself reports is checked here: a frame during whose reception the port
    // reported a receive-line error (framing, overrun, parity) may hold a wrong byte. It is
    // dropped like a frame that fails the framing test, and the register, which gets no
    // acknowledgement, sends it again at the next poll.
    if (link.FrameHadLineError()) {
        link.TraceNote("frame dropped unacknowledged: a line error was reported during it");
        return true;
    }
    // ----------------------------------------------------------------------------------------
    link.Status.FrameReceived();

    // Acknowledged at once, before the handler runs; parsing and dispatch go on even if the
    // acknowledgement could not be written.
    link.SendRaw(std::string_view(&AckByte, 1));
    link.ParseHeader(received);
    const std::string messageType = link.MessageType;
    if (!link.RunsInTurn(messageType)) {
        turn.unlock();
    }
    try {
        link.DispatchMessage(messageType, received);
    } catch (...) {
        // A handler's error ends the handling of this message only. The worker keeps serving
        // its register; ending the thread would leave it unserved while the shell shows it
        // connected.
    }
    return true;
}

// The port is not open (it could not be opened, or a re-open failed), went away, or its
// transmitter is stuck: let the device go, try it again by the same name at most about once a
// second, and sleep until then. A port that is not there yet is served as soon as it appears.
void TSerialThread::Loop::Recover() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (stop) {
            return;
        }
        if (link.Port.PortReady()) {
            ClosePortFor(link.TransmitterStuck() ? "transmitter stuck: " + link.StuckReason()
                                                 : link.Port.LastErrorText());
        }
    }
    const auto now = Clock::now();
    if (!lastReopen || now - *lastReopen >= ReopenInterval) {
        lastReopen = now;
        if (Reopen()) {
            return;
        }
    }
    const auto untilNext =
        std::chrono::ceil<std::chrono::milliseconds>(*lastReopen + ReopenInterval - Clock::now());
    Pause(std::max(untilNext, std::chrono::milliseconds(1)));
}

// Closes a port that went away or stopped sending, saying why. A port that was serving counts
// as lost once, however many re-opens it then takes.
void TSerialThread::Loop::ClosePortFor(const std::string& why) {
    if (link.Status.State() == PortState::Open) {
        link.Status.PortLost(why);
    } else {
        link.Status.SetPortError(why);
    }
    link.TraceNote("port closed (" + why + "); opened again about once a second");
    link.Port.ClosePort();
}

bool TSerialThread::Loop::Reopen() {
    std::lock_guard<FairRecursiveMutex> turn(link.TurnLock());
    std::lock_guard<std::mutex> guard(mutex);
    if (stop) {
        return false;
    }
    if (link.OpenLink()) {
        link.TraceNote("port opened again");
        lastFailure.clear();
        reopened = true;
        return true;
    }
    OpenFailed();  // OpenLink has closed whatever it had opened
    return false;
}

// Why the port could not be opened, for the status (each time: the reason may change, from no
// such device to permission denied to busy) and for the trace (when it changed).
void TSerialThread::Loop::OpenFailed() {
    const std::string why = OpenFailureText(link);
    link.Status.SetPortError(why);
    if (why != lastFailure) {
        link.TraceNote("port could not be opened (" + why + "); tried again about once a second");
        lastFailure = why;
    }
}

void TSerialThread::Loop::Pause(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> guard(mutex);
    wake.wait_for(guard, time, [this] { return stop; });
}

bool TSerialThread::Loop::StopRequested() {
    std::lock_guard<std::mutex> guard(mutex);
    return stop;
}

TSerialThread::TSerialThread(ThreadPriority priority, const LinkOptions& options,
                             NoticeSink& trayIcon)
    : link_(std::make_unique<TSerialExtended>(options, trayIcon)),
      loop_(std::make_unique<Loop>(*link_, priority)),
      priority_(priority) {}

TSerialThread::~TSerialThread() {
    if (loop_->thread.joinable()) {
        StopLink();
    }
}

bool TSerialThread::StartLink() {
    Loop& loop = *loop_;
    if (loop.running.load()) {
        return false;  // already serving, or trying to open its port
    }
    if (loop.thread.joinable()) {
        loop.thread.join();
    }
    // A port that cannot be opened now (a USB adapter not there yet, busy, not permitted) gets
    // its worker all the same: the worker tries it again about once a second and serves the
    // register as soon as it opens.
    loop.reopened = false;
    loop.lastFailure.clear();
    loop.lastReopen.reset();
    if (link_->OpenLink()) {
        link_->Status.PortWorking();
    } else {
        loop.OpenFailed();
        link_->Status.SetState(PortState::CouldNotOpen);
        loop.lastReopen = Clock::now();
    }
    {
        std::lock_guard<std::mutex> guard(loop.mutex);
        loop.stop = false;
    }
    loop.running.store(true);
    try {
        loop.thread = std::thread([&loop] { loop.Run(); });
    } catch (const std::system_error&) {
        loop.running.store(false);
        link_->Port.ClosePort();
        link_->Status.SetState(PortState::Stopped);
        return false;
    }
    return true;
}

void TSerialThread::StopLink() {
    Loop& loop = *loop_;
    {
        std::lock_guard<std::mutex> guard(loop.mutex);
        loop.stop = true;
        // Ends any wait of the worker on the port at once; its later port calls fail at once.
        link_->Port.ClosePort();
    }
    loop.wake.notify_all();
    if (loop.thread.joinable()) {
        loop.thread.join();
        link_->Status.SetState(PortState::Stopped);
    }
}

bool TSerialThread::Running() const {
    return loop_->running.load();
}

}  // namespace tallyport
