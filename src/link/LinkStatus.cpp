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
    return s;
}

}  // namespace tallyport
