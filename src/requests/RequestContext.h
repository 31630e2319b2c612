#pragma once

#include <mutex>
#include <string>

#include "base/LocalClock.h"

namespace tallyport {

// What the request handlers of all workers share: the clock the output records are dated by,
// the key of the last receipt closing (for the one-amount-per-receipt rule) and the lock that
// serialises the appends to the back-office files.
//
// Owned by the shell, one per process, and it must outlive every worker whose handlers use it.
// Every member is safe to use from any worker at any time.
class RequestContext {
public:
    explicit RequestContext(const LocalClock& clock = DefaultLocalClock());
    RequestContext(const RequestContext&) = delete;
    RequestContext& operator=(const RequestContext&) = delete;

    const LocalClock& Clock() const { return clock_; }

    // Makes `key` the last closing key; true when it equals the key it replaces.
    bool ReplaceLastClosingKey(const std::string& key);
    std::string LastClosingKey() const;

    // Held for the whole of one closing's appends, across all workers, so that the lines of two
    // registers never interleave and a closing's lines reach their files together.
    std::mutex& OutputFilesMutex() { return outputFilesMutex_; }

private:
    const LocalClock& clock_;
    mutable std::mutex keyMutex_;
    std::string lastClosingKey_;
    std::mutex outputFilesMutex_;
};

}  // namespace tallyport
