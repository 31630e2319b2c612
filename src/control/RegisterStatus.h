#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/LinkStatus.h"

namespace tallyport {

class ReceiptJournal;
class TSerialThread;

// What the shell shows of one register at one moment: taken from its worker, or read back from
// the status file. A plain value; any thread may hold one.
struct RegisterStatus {
    int logicalNb = 0;
    std::string port;
    PortState state = PortState::Stopped;
    // How long ago the last frame came; empty when none came since the start.
    std::optional<std::chrono::seconds> lastFrameAge;
    std::uint64_t receipts = 0;
    std::uint64_t sales = 0;
    std::uint64_t lateSales = 0;   // of the sales, those confirmed after the confirmation wait
    std::size_t pendingLines = 0;  // lines of the receipt in progress
    std::uint64_t losses = 0;
    // Why the port is not open (lost or not opening), in the system's words; empty once it is.
    std::string portError;
    std::string lastError;  // a request handler's last error (a file that could not be written)
    // The port is open but the register is not served: its journal cannot be written (the
    // reason in journalError). Ends by itself once the journal is written again.
    bool journalHeld = false;
    std::string journalError;
    // Closings that could not be read, kept in the register's journal for the user.
    std::size_t unreadableClosings = 0;
};

// True when the register waits for its journal rather than being served: held by the journal
// with its port open. A port that is lost, not opening or stopped says more, and wins.
inline bool HeldByJournal(const RegisterStatus& status) {
    return status.journalHeld && status.state == PortState::Open;
}

// One worker's status as of `now`. Reads only what the worker publishes for any thread: safe
// while it runs. Any thread.
RegisterStatus StatusOf(const TSerialThread& worker, std::chrono::steady_clock::time_point now,
                        const ReceiptJournal* journal = nullptr);

// The status of every worker, in the workers' order, as of `now`. Reads only what the workers
// publish for any thread: safe while they run. Called on the user-interface thread. With the
// journal, each register's unreadable closings kept there are counted in.
std::vector<RegisterStatus> CollectStatus(
    const std::vector<std::unique_ptr<TSerialThread>>& workers,
    std::chrono::steady_clock::time_point now, const ReceiptJournal* journal = nullptr);

}  // namespace tallyport
