#include "control/RegisterStatus.h"

#include "journal/ReceiptJournal.h"
#include "link/SerialThread.h"

namespace tallyport {

RegisterStatus StatusOf(const TSerialThread& worker, std::chrono::steady_clock::time_point now,
                        const ReceiptJournal* journal) {
    const TSerialExtended& link = worker.Link();
    const LinkStatusSnapshot s = link.Status.Snapshot();
    RegisterStatus r;
    r.logicalNb = link.LogicalNb;
    r.port = link.CommPort;  // set before the start, never changed while the worker runs
    r.state = s.state;
    if (s.lastFrame) {
        // A frame stamped after `now` (taken just before the look) is "just now".
        r.lastFrameAge = *s.lastFrame > now
                             ? std::chrono::seconds(0)
                             : std::chrono::duration_cast<std::chrono::seconds>(now - *s.lastFrame);
    }
    r.receipts = s.receipts;
    r.sales = s.sales;
    r.lateSales = s.lateSales;
    r.pendingLines = link.PendingTranLines.Count();
    r.losses = s.losses;
    r.portError = s.portError;
    r.lastError = s.lastError;
    r.journalHeld = s.journalHeld;
    r.journalError = s.journalError;
    if (journal != nullptr) {
        r.unreadableClosings = journal->UnreadableKept(link.LogicalNb);
    }
    return r;
}

std::vector<RegisterStatus> CollectStatus(
    const std::vector<std::unique_ptr<TSerialThread>>& workers,
    std::chrono::steady_clock::time_point now, const ReceiptJournal* journal) {
    std::vector<RegisterStatus> result;
    result.reserve(workers.size());
    for (const auto& worker : workers) {
        result.push_back(StatusOf(*worker, now, journal));
    }
    return result;
}

}  // namespace tallyport
