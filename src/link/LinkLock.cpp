#include "link/LinkLock.h"

namespace tallyport {

FairRecursiveMutex LinkLock;

void FairRecursiveMutex::lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return;
    }
    // Each arrival draws the next ticket; the holder's release serves the following one, so
    // the lock passes in arrival order whoever is quickest to re-take it.
    const std::uint64_t ticket = nextTicket_++;
    turn_.wait(guard, [&] { return nowServing_ == ticket; });
    owner_ = self;
    depth_ = 1;
}

bool FairRecursiveMutex::try_lock() {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return true;
    }
    if (depth_ > 0 || nowServing_ != nextTicket_) {
        return false;  // held, or others are already waiting in line
    }
    ++nextTicket_;
    owner_ = self;
    depth_ = 1;
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
    owner_ = std::thread::id{};
    ++nowServing_;
    turn_.notify_all();
}

bool FairRecursiveMutex::HeldByCurrentThread() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

}  // namespace tallyport
