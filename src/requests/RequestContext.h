#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/LocalClock.h"
#include "journal/ReceiptJournal.h"
#include "requests/RequestFields.h"

namespace tallyport {

// What the request handlers of all workers share: the clock the output records are dated by,
// the key of the last receipt closing (for the one-amount-per-receipt rule), the lock that
// serialises the appends to the back-office files and the journal of what the registers were
// told.
//
// Owned by the shell, one per process, and it must outlive every worker whose handlers use it.
// Every member is safe to use from any worker at any time.
class RequestContext {
public:
    explicit RequestContext(const LocalClock& clock = DefaultLocalClock());
    RequestContext(const RequestContext&) = delete;
    RequestContext& operator=(const RequestContext&) = delete;

    const LocalClock& Clock() const { return clock_; }

    // Makes `key` the last closing key; true when it equals the key it replaces, which is put
    // in `previous` when given.
    bool ReplaceLastClosingKey(const std::string& key, std::string* previous = nullptr);
    // Undoes a replacement whose closing was not acknowledged, unless another closing has set
    // the key since.
    void RestoreLastClosingKey(const std::string& ours, const std::string& previous);
    void SetLastClosingKey(std::string key);  // at start-up, from the journal
    std::string LastClosingKey() const;

    // Held for the whole of one closing's appends, across all workers, so that the lines of two
    // registers never interleave and a closing's lines reach their files together.
    std::mutex& OutputFilesMutex() { return outputFilesMutex_; }

    // The journal, or null: nothing is journalled (set by the shell before the workers start,
    // cleared after they have been freed).
    void UseJournal(ReceiptJournal* journal);
    ReceiptJournal* Journal() const;

    // One register's side of the journal. Only that register's worker uses its entry (and the
    // shell, while the worker does not run).
    struct JournalSide {
        JournalFields journalled;  // the working fields as the journal last heard them
        ReceiptJournal::Ticket ticket = 0;
        // The closing frame journalled before the restart, until the register sends anything
        // else: the same frame again is a closing whose acknowledgement the restart cut off.
        std::optional<std::string> resentClosing;
    };
    JournalSide& JournalSideOf(int logicalNb);

    // The working fields of a register's handlers (made on first use; a restart fills them from
    // the journal before the register's worker starts).
    std::shared_ptr<RequestFields> FieldsOf(int logicalNb);

    // Tests stop the program at named points of a closing's commit.
    using CrashHook = std::function<void(std::string_view point)>;
    void SetCrashHook(CrashHook hook) { crashHook_ = std::move(hook); }
    void CrashPoint(std::string_view point) const {
        if (crashHook_) {
            crashHook_(point);
        }
    }

private:
    const LocalClock& clock_;
    mutable std::mutex keyMutex_;
    std::string lastClosingKey_;
    std::mutex outputFilesMutex_;
    mutable std::mutex journalMutex_;
    ReceiptJournal* journal_ = nullptr;
    std::map<int, JournalSide> sides_;
    std::map<int, std::shared_ptr<RequestFields>> fields_;
    CrashHook crashHook_;
};

}  // namespace tallyport
