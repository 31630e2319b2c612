#include "link/LinkStatus.h"

namespace tallyport {

void LinkStatus::PortLost() noexcept {
    losses_.fetch_add(1, std::memory_order_relaxed);
    state_.store(PortState::Lost, std::memory_order_relaxed);
}

void LinkStatus::FrameReceived(Clock::time_point when) noexcept {
    // A tick count of 0 stands for "none": a frame at the clock's very origin shows as 1 tick.
    const Clock::rep ticks = when.time_since_epoch().count();
    lastFrame_.store(ticks == 0 ? 1 : ticks, std::memory_order_relaxed);
}

void LinkStatus::SetError(const std::string& text) {
    try {
        std::lock_guard<std::mutex> guard(errorMutex_);
        lastError_ = text;
    } catch (...) {
        // Out of memory while keeping a text: the status goes without it, the link goes on.
    }
}

void LinkStatus::SetJournalError(const std::string& text) {
    // The flag changes under the lock too, so that a snapshot never shows one without the other.
    std::lock_guard<std::mutex> guard(errorMutex_);
    try {
        journalError_ = text;
    } catch (...) {
        journalError_.clear();  // out of memory: held is still shown, without its reason
    }
    journalHeld_.store(true, std::memory_order_release);
}

void LinkStatus::ClearJournalError() {
    std::lock_guard<std::mutex> guard(errorMutex_);
    journalHeld_.store(false, std::memory_order_release);
    journalError_.clear();
}

LinkStatusSnapshot LinkStatus::Snapshot() const {
    LinkStatusSnapshot s;
    s.state = state_.load(std::memory_order_relaxed);
    if (const Clock::rep ticks = lastFrame_.load(std::memory_order_relaxed); ticks != 0) {
        s.lastFrame = Clock::time_point(Clock::duration(ticks));
    }
    s.receipts = receipts_.load(std::memory_order_relaxed);
    s.sales = sales_.load(std::memory_order_relaxed);
    s.losses = losses_.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(errorMutex_);
    s.lastError = lastError_;
    // Read under the lock that its setter and clearer take, so the flag and its reason agree.
    s.journalHeld = journalHeld_.load(std::memory_order_relaxed);
    s.journalError = journalError_;
    return s;
}

}  // namespace tallyport
