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
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"

namespace tallyport {

namespace {

using Clock = std::chrono::steady_clock;

// Shortest time between two attempts to re-open a port whose device went away.
constexpr auto ReopenInterval = std::chrono::milliseconds(1000);
constexpr auto CyclePace = std::chrono::milliseconds(ByteTimeout);

}  // namespace

// The worker's thread and what it shares with the shell's thread. `mutex` guards `stop` and
// every open or close of the port made while the worker runs, so StopLink's close can never
// cross a re-open. Lock order: LinkLock before `mutex`, never the other way.
struct TSerialThread::Loop {
    Loop(TSerialExtended& l, ThreadPriority p) : link(l), priority(p) {}

    void Run();
    bool Cycle();
    void Recover();
    bool Reopen();
    void Pause(std::chrono::milliseconds time);
    bool StopRequested();

    TSerialExtended& link;
    const ThreadPriority priority;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::atomic<bool> running{false};
    std::optional<Clock::time_point> lastReopen;
};

void TSerialThread::Loop::Run() {
    if (priority == ThreadPriority::Lowest) {
        LowerThisThreadsPriority();
    }
    while (!StopRequested()) {
        try {
            if (!link.Port.PortReady() || link.Port.PortLost()) {
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
// The cycle is the register's turn on the link: it holds LinkLock from the poll through the
// reception and the acknowledgement, and for the handlers that answer the register (article
// requests: lookup, reply, confirmation) through the handler too. Handing the lock on in the
// middle would make this register wait through every other register's turn while its frame or
// its customer waits. The other handlers run after the turn: their file appends and syncs
// must never hold up the other registers. The lock is FIFO, so turns go round in order.
bool TSerialThread::Loop::Cycle() {
    std::unique_lock<FairRecursiveMutex> turn(LinkLock);
    if (!link.PollRegister()) {
        return false;
    }
    const std::string received = link.ReceiveFrame();
    if (!AcceptFrame(received)) {
        return true;  // silence, a stray byte or a broken frame: dropped without an answer
    }
    link.Status.FrameReceived();

    // ---- Place for a CRC check of received frames ----------------------------------------
    // The two CRC bytes are read and carried along but not compared: which bytes the
    // registers' own CRC covers is not known, and a check that refused their good frames
    // would stop all traffic. A check added here sees the whole received string; a frame it
    // rejects must return here, before the acknowledgement, like any other rejected frame.
    // ----------------------------------------------------------------------------------------

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

// The port went away (or a re-open failed): let the device go, try it again by the same name at
// most about once a second, and keep the pace of one ByteTimeout per cycle meanwhile.
void TSerialThread::Loop::Recover() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (stop) {
            return;
        }
        if (link.Status.State() == PortState::Open) {
            link.Status.SetError(link.Port.LastErrorText());
            link.Status.PortLost();
        }
        if (link.Port.PortReady()) {
            link.Port.ClosePort();
        }
    }
    const auto now = Clock::now();
    if (!lastReopen || now - *lastReopen >= ReopenInterval) {
        lastReopen = now;
        if (Reopen()) {
            return;
        }
    }
    Pause(CyclePace);
}

bool TSerialThread::Loop::Reopen() {
    std::lock_guard<FairRecursiveMutex> linkGuard(LinkLock);
    std::lock_guard<std::mutex> guard(mutex);
    if (stop) {
        return false;
    }
    if (link.OpenLink()) {
        link.Status.SetState(PortState::Open);
        return true;
    }
    if (link.Port.PortReady()) {
        link.Port.ClosePort();  // opened but not configured: free it for the next attempt
    }
    return false;
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
        return false;  // already serving; its port is open
    }
    if (loop.thread.joinable()) {
        loop.thread.join();
    }
    if (!link_->OpenLink()) {
        link_->Status.SetError(link_->Port.LastErrorText());
        link_->Status.SetState(PortState::CouldNotOpen);
        return false;
    }
    link_->Status.SetState(PortState::Open);
    {
        std::lock_guard<std::mutex> guard(loop.mutex);
        loop.stop = false;
    }
    loop.lastReopen.reset();
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
