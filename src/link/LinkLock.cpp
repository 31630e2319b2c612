#include "link/LinkLock.h"

namespace tallyport {

FairRecursiveMutex LinkLock;

void FairRecursiveMutex::Grant(std::uint64_t ticket, std::thread::id thread) {
    owner_ = thread;
    depth_ = 1;
    if (observer_ != nullptr) {
        observer_->Granted(ticket);
    }
}

void FairRecursiveMutex::lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return;
    }
    const std::uint64_t ticket = nextTicket_++;
    if (observer_ != nullptr) {
        observer_->Arrived(ticket);
    }
    if (depth_ == 0 && line_.empty()) {
        Grant(ticket, self);
        return;
    }
    // In line: the release that reaches this ticket makes this thread the owner before it wakes
    // it, so nobody who arrives later can slip in between.
    Waiter waiter;
    waiter.ticket = ticket;
    waiter.thread = self;
    line_.push_back(&waiter);
    waiter.turn.wait(guard, [&waiter] { return waiter.granted; });
}

bool FairRecursiveMutex::try_lock() {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return true;
    }
    if (depth_ > 0 || !line_.empty()) {
        return false;  // held, or others are already waiting in line
    }
    const std::uint64_t ticket = nextTicket_++;
    if (observer_ != nullptr) {
        observer_->Arrived(ticket);
    }
    Grant(ticket, self);
    return true;
}

void FairRecursiveMutex::unlock() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) {
        return;  // not held by this thread: nothing to release
    }
    if (--depth_ > 0) {
        return;
    }
    if (line_.empty()) {
        owner_ = std::thread::id{};
        return;
    }
    Waiter* next = line_.front();
    line_.pop_front();
    Grant(next->ticket, next->thread);
    next->granted = true;
    // Notified while the mutex is held: the waiter cannot leave its wait (and its stack frame)
    // before this call has returned.
    next->turn.notify_one();
}

bool FairRecursiveMutex::HeldByCurrentThread() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

std::size_t FairRecursiveMutex::Waiting() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return line_.size();
}

void FairRecursiveMutex::SetObserver(Observer* observer) {
    std::lock_guard<std::mutex> guard(mutex_);
    observer_ = observer;
}

}  // namespace tallyport
