#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace tallyport {

// Where a worker's port stands.
enum class PortState : int {
    Stopped,       // not started, or stopped by a disconnect
    Open,          // open and served
    Lost,          // the device went away (or its transmitter stuck); re-opened about once a second
    CouldNotOpen,  // the start could not open or set up the port; tried again about once a second
};

// One moment of a worker's status, as the shell reads it.
struct LinkStatusSnapshot {
    PortState state = PortState::Stopped;
    // When the last accepted frame came (steady clock); empty when none came since the start.
    std::optional<std::chrono::steady_clock::time_point> lastFrame;
    std::uint64_t receipts = 0;   // receipt closings written to the files
    std::uint64_t sales = 0;      // confirmed sales recorded
    std::uint64_t lateSales = 0;  // of which confirmed after the confirmation wait
    std::uint64_t losses = 0;     // times the port went away
    // Why the port is not open (the system's text: no such device, permission denied, busy),
    // while it is lost or cannot be opened; empty once it works again.
    std::string portError;
    std::string lastError;  // the last error of a request handler (a file); empty when none
    // The worker waits because its register's journal cannot be written: the register is not
    // served until it can. With the journal's reason.
    bool journalHeld = false;
    std::string journalError;
};

// A worker's live status. The worker (and its request handlers) write it with single atomic
// stores, so keeping it costs the link nothing it would notice; only the error texts, which
// change rarely, take a small lock, and only when an error is recorded or ends. The shell reads
// it from its own thread at any time. Owned by the worker's link state.
class LinkStatus {
public:
    using Clock = std::chrono::steady_clock;

    void SetState(PortState state) noexcept { state_.store(state, std::memory_order_relaxed); }
    // The port went away: counted, so that a loss shorter than the shell's look is still seen;
    // `reason` says why (the system's text).
    void PortLost(const std::string& reason);
    // The port could not be opened (at the start or at a re-open): why, in the system's words.
    void SetPortError(const std::string& reason);
    // The port is open and serves its register: the reason it was not goes.
    void PortWorking();
    void FrameReceived(Clock::time_point when = Clock::now()) noexcept;
    void SaleRecorded() noexcept { sales_.fetch_add(1, std::memory_order_relaxed); }
    // A recorded sale whose confirmation came after the confirmation wait (also a sale).
    void LateSaleRecorded() noexcept { lateSales_.fetch_add(1, std::memory_order_relaxed); }
    void ReceiptRecorded() noexcept { receipts_.fetch_add(1, std::memory_order_relaxed); }
    // Keeps `text` as a request handler's last error; the previous one is replaced.
    void SetError(const std::string& text);
    // The register's journal cannot be written (`text` says why): its worker waits and does not
    // poll. Set and cleared by the journal's side on the worker's thread; the link itself only
    // carries it for the shell.
    void SetJournalError(const std::string& text);
    void ClearJournalError();
    // One atomic load: cheap enough for the worker to ask before every poll.
    bool JournalHeld() const noexcept { return journalHeld_.load(std::memory_order_acquire); }

    PortState State() const noexcept { return state_.load(std::memory_order_relaxed); }
    LinkStatusSnapshot Snapshot() const;

private:
    std::atomic<PortState> state_{PortState::Stopped};
    // Steady-clock ticks of the last frame; 0 when none came.
    std::atomic<Clock::rep> lastFrame_{0};
    std::atomic<std::uint64_t> receipts_{0};
    std::atomic<std::uint64_t> sales_{0};
    std::atomic<std::uint64_t> lateSales_{0};
    std::atomic<std::uint64_t> losses_{0};
    std::atomic<bool> journalHeld_{false};
    mutable std::mutex errorMutex_;  // guards the three texts only
    std::string portError_;
    std::string lastError_;
    std::string journalError_;
};

}  // namespace tallyport
