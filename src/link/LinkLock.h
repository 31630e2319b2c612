#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace tallyport {

// A re-entrant lock that hands itself over in arrival order (FIFO). A plain recursive mutex lets
// a worker that releases and re-takes it at once starve the others, and a register would then go
// unserved. Meets the Lockable requirements: use it through std::lock_guard / std::unique_lock.
//
// Every arrival draws a ticket; the turns go to the tickets in the order they were drawn. The
// release hands the lock straight to the next thread in line and wakes that thread alone: the
// others sleep on, so a hand-over costs the same with 2 registers waiting as with 48.
class FairRecursiveMutex {
public:
    FairRecursiveMutex() = default;
    FairRecursiveMutex(const FairRecursiveMutex&) = delete;
    FairRecursiveMutex& operator=(const FairRecursiveMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();

    // True when the calling thread holds the lock (for assertions in handlers).
    bool HeldByCurrentThread() const;
    // Threads waiting in line for the lock now.
    std::size_t Waiting() const;

    // Sees each arrival's ticket and each turn granted, in the order the lock makes them, so that
    // a test checks the hand-over order from the lock itself rather than from wall-clock counts.
    // Called under the lock's own mutex: it must be quick and must not use the lock.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void Arrived(std::uint64_t ticket) = 0;  // on the arriving thread
        virtual void Granted(std::uint64_t ticket) = 0;  // on the thread that hands over
    };
    // Tests only; set while no thread uses the lock. Null removes it.
    void SetObserver(Observer* observer);

private:
    // One thread in line; it lives on that thread's stack while it waits.
    struct Waiter {
        std::uint64_t ticket = 0;
        std::thread::id thread;
        bool granted = false;
        std::condition_variable turn;
    };
    void Grant(std::uint64_t ticket, std::thread::id thread);

    mutable std::mutex mutex_;
    std::deque<Waiter*> line_;
    std::uint64_t nextTicket_ = 0;
    std::thread::id owner_{};
    int depth_ = 0;
    Observer* observer_ = nullptr;
};

// The process-wide link lock: the turn lock of every link built without parallel lines
// (TSerialExtended::TurnLock). It serialises those workers' serial traffic (port set-up, polls,
// frame receptions, replies) and their article lookups, so their registers are served one at a
// time. A worker holds it for its register's whole turn, from the poll to the end of the
// exchange (TSerialThread), so no other register's traffic comes in the middle. It is not
// held for the other handlers' file work or stopping. It guards no data: what the workers
// share protects itself where it lives (the article holder, the output files' lock, the
// journal, the last-closing key, the status), so that links with parallel lines, each under a
// turn lock of its own, need it not.
// It exists for the whole process; connecting and disconnecting only start and stop its users.
extern FairRecursiveMutex LinkLock;

}  // namespace tallyport
