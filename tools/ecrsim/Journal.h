#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "ecrsim/ExpectedLine.h"
#include "ecrsim/ShopRules.h"
#include "ecrsim/ShopSettings.h"
#include "ecrsim/Verifier.h"

namespace tallyport::ecrsim {

using SteadyClock = std::chrono::steady_clock;

// A span of time, on both clocks: the steady one orders events, the wall one dates them.
struct Span {
    SteadyClock::time_point steadyFrom{};
    SteadyClock::time_point steadyTo{};
    WallClock::time_point wallFrom{};
    WallClock::time_point wallTo{};

    static Span Now();
    static Span Between(const Span& from, const Span& to);  // from's start to to's end
};

// A closing message the program acknowledged with its padded acknowledgement: the closing
// line it must write and, for the first closing of a receipt, the receipt's sale lines.
struct ClosingRecord {
    Span span;                // the closing exchange
    std::string key;          // register, operator, receipt: the program's last-closing key
    BonFields fields;         // amount1 as the program writes it when it keeps the amount
    std::string amount1Zero;  // ... and when it writes the first amount 0
    std::vector<std::string> cardReferences;  // the possible ones; empty: any
    std::vector<ExpectedLine> tranLines;
    std::string origin;
};

// What every register's clerk learned during the run, for the expected file contents.
// Clerks add to it from their own threads; the builder runs after they have ended.
class Journal {
public:
    void AddClosing(ClosingRecord record);
    // The program may have restarted within `span` (a register went without polls, or the run
    // was paused): its last-closing key may be empty from then on.
    void AddRestart(const Span& span);

    std::vector<ClosingRecord> Closings() const;
    std::vector<Span> Restarts() const;

private:
    mutable std::mutex mutex_;
    std::vector<ClosingRecord> closings_;
    std::vector<Span> restarts_;
};

// Where each register's lines go and which settings shape them.
struct OutputLayout {
    std::string tranPath;  // resolved paths as the program opens them
    std::string bonPath;
    bool separateFiles = false;
    bool recAmount = true;
    std::chrono::seconds timeSlack{60};
    // How long after its acknowledgement the program may still be handling a closing.
    std::chrono::milliseconds handlingSlack{300};
};

// The file of register `logicalNb` for a configured path.
std::string RegisterFile(const OutputLayout& layout, const std::string& path, int logicalNb);

// The expected contents of every output file: the transaction lines and closing lines of the
// acknowledged closings, register by register in order. Start offsets are taken from
// `startSizes` (path to size when the run began).
std::vector<OutputExpectation> BuildExpectations(
    const Journal& journal, const OutputLayout& layout, const std::vector<int>& registers,
    const std::vector<std::pair<std::string, std::uintmax_t>>& startSizes,
    SteadyClock::time_point runStart);

// The possible first amounts of each closing (the program zeroes it when the closing before
// it, of any register, had the same key), in the order of Journal::Closings().
std::vector<std::vector<std::string>> FirstAmountChoices(const std::vector<ClosingRecord>& closings,
                                                         const std::vector<Span>& restarts,
                                                         const OutputLayout& layout,
                                                         SteadyClock::time_point runStart);

// The closing line of a record with its possible first amounts.
ExpectedLine BonExpectation(const ClosingRecord& record, const std::vector<std::string>& amounts1,
                            std::chrono::seconds timeSlack);

// A sale or discount line with its receipt's numbers, dated within `span` (plus slack).
ExpectedLine TranExpectation(const TranFields& fields, const Span& span,
                             std::chrono::seconds timeSlack);

}  // namespace tallyport::ecrsim
