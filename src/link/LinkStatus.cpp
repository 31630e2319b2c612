#include "link/LinkStatus.h"

namespace tallyport {

namespace {

// Keeps a text without failing the link: out of memory, the status goes without it.
void KeepText(std::string& kept, const std::string& text) noexcept {
    try {
        kept = text;
    } catch (...) {
        kept.clear();
    }
}

}  // namespace

void LinkStatus::PortLost(const std::string& reason) {
    SetPortError(reason);
    losses_.fetch_add(1, std::memory_order_relaxed);
    state_.store(PortState::Lost, std::memory_order_relaxed);
}

void LinkStatus::SetPortError(const std::string& reason) {
    std::lock_guard<std::mutex> guard(errorMutex_);
    KeepText(portError_, reason);
}

void LinkStatus::PortWorking() {
    {
        std::lock_guard<std::mutex> guard(errorMutex_);
        portError_.clear();
    }
    state_.store(PortState::Open, std::memory_order_relaxed);
}

void LinkStatus::FrameReceived(Clock::time_point when) noexcept {
    // A tick count of 0 stands for "none": a frame at the clock's very origin shows as 1 tick.
    const Clock::rep ticks = when.time_since_epoch().count();
    lastFrame_.store(ticks == 0 ? 1 : ticks, std::memory_order_relaxed);
}

void LinkStatus::SetError(const std::string& text) {
    std::lock_guard<std::mutex> guard(errorMutex_);
    KeepText(lastError_, text);
}

void LinkStatus::SetJournalError(const std::string& text) {
    // The flag changes under the lock too, so that a snapshot never shows one without the other.
    // Out of memory, held is still shown, without its reason.
    std::lock_guard<std::mutex> guard(errorMutex_);
    KeepText(journalError_, text);
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
    s.lateSales = lateSales_.load(std::memory_order_relaxed);
    s.losses = losses_.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(errorMutex_);
    s.portError = portError_;
    s.lastError = lastError_;
    // Read under the lock that its setter and clearer take, so the flag and its reason agree.
    s.journalHeld = journalHeld_.load(std::memory_order_relaxed);
    s.journalError = journalError_;
    return s;
}

}  // namespace tallyport
