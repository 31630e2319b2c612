#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace tallyport {

// A re-entrant lock that hands itself over in arrival order (FIFO). A plain recursive mutex lets
// a worker that releases and re-takes it at once starve the others, and a register would then go
// unserved. Meets the Lockable requirements: use it through std::lock_guard / std::unique_lock.
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

private:
    mutable std::mutex mutex_;
    std::condition_variable turn_;
    std::uint64_t nextTicket_ = 0;
    std::uint64_t nowServing_ = 0;
    std::thread::id owner_{};
    int depth_ = 0;
};

// The process-wide link lock. It serialises every worker's serial traffic (port set-up, polls,
// frame receptions, replies) and the whole article lookup, so registers are served one at a
// time. A worker holds it for its register's whole turn, from the poll to the end of the
// exchange (TSerialThread), so no other register's traffic comes in the middle. It is not
// held for the other handlers' file work or stopping.
// It exists for the whole process; connecting and disconnecting only start and stop its users.
extern FairRecursiveMutex LinkLock;

}  // namespace tallyport
