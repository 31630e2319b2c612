#include "ecrsim/Journal.h"

#include <algorithm>
#include <map>

namespace tallyport::ecrsim {

Span Span::Now() {
    const auto steady = SteadyClock::now();
    const auto wall = WallClock::now();
    return Span{steady, steady, wall, wall};
}

Span Span::Between(const Span& from, const Span& to) {
    return Span{from.steadyFrom, to.steadyTo, from.wallFrom, to.wallTo};
}

void Journal::AddClosing(ClosingRecord record) {
    std::lock_guard<std::mutex> guard(mutex_);
    closings_.push_back(std::move(record));
}

void Journal::AddRestart(const Span& span) {
    std::lock_guard<std::mutex> guard(mutex_);
    restarts_.push_back(span);
}

std::vector<ClosingRecord> Journal::Closings() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return closings_;
}

std::vector<Span> Journal::Restarts() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return restarts_;
}

std::string RegisterFile(const OutputLayout& layout, const std::string& path, int logicalNb) {
    return layout.separateFiles ? PerRegisterFileName(path, logicalNb) : path;
}

ExpectedLine TranExpectation(const TranFields& fields, const Span& span,
                             std::chrono::seconds timeSlack) {
    ExpectedLine line(ExpectedLine::Record::Tran);
    line.Fields(TranLineHead(fields).substr(0, TranLineHead(fields).size() - 1));
    line.FieldOneOf(DateTexts(span.wallFrom - timeSlack, span.wallTo + timeSlack));
    line.FieldOneOf(MinuteTexts(span.wallFrom - timeSlack, span.wallTo + timeSlack));
    return line;
}

ExpectedLine BonExpectation(const ClosingRecord& record, const std::vector<std::string>& amounts1,
                            std::chrono::seconds timeSlack) {
    const BonFields& f = record.fields;
    ExpectedLine line(ExpectedLine::Record::Bon);
    line.Field(RegisterField(f.logicalNb))
        .Field(PadLeft(f.operatorNo, 2, '0'))
        .Field(PadLeft(f.receiptNo, 4, '0'))
        .Field(PaymentTypeDigit(f.paymentCode))
        .Field(f.amountFlag);
    std::vector<std::string> padded;
    for (const std::string& a : amounts1) {
        padded.push_back(PadLeft(a, 10, '0'));
    }
    line.FieldOneOf(padded).Field(PadLeft(f.amount2, 10, '0')).Field(f.commaText);
    if (record.cardReferences.empty()) {
        line.AnyField();
    } else {
        std::vector<std::string> references;
        for (const std::string& r : record.cardReferences) {
            references.push_back(PadLeft(r, 13, '0'));
        }
        line.FieldOneOf(references);
    }
    const auto from = record.span.wallFrom - timeSlack;
    const auto to = record.span.wallTo + timeSlack;
    line.FieldOneOf(MinuteTexts(from, to)).FieldOneOf(DateTexts(from, to));
    line.Field(PadLeft(f.zReportNo, 5, '0'));
    line.Origin(record.origin);
    return line;
}

std::vector<std::vector<std::string>> FirstAmountChoices(const std::vector<ClosingRecord>& closings,
                                                         const std::vector<Span>& restarts,
                                                         const OutputLayout& layout,
                                                         SteadyClock::time_point runStart) {
    // Every event that sets the program's last-closing key: the closings, a possible restart
    // (the key becomes empty) and the state before the run (unknown).
    struct KeyEvent {
        SteadyClock::time_point from;
        SteadyClock::time_point to;
        std::string key;
        bool unknown = false;
        std::size_t closing = SIZE_MAX;
    };
    const auto slack = layout.handlingSlack;
    std::vector<KeyEvent> events;
    events.push_back(
        {runStart - std::chrono::hours(1), runStart - std::chrono::hours(1), "", true});
    for (const Span& r : restarts) {
        events.push_back({r.steadyFrom, r.steadyTo, "", false});
    }
    for (std::size_t c = 0; c < closings.size(); ++c) {
        events.push_back({closings[c].span.steadyFrom, closings[c].span.steadyTo + slack,
                          closings[c].key, false, c});
    }

    std::vector<std::vector<std::string>> choices(closings.size());
    for (std::size_t c = 0; c < closings.size(); ++c) {
        const ClosingRecord& closing = closings[c];
        const std::string& given = closing.fields.amount1;
        if (layout.recAmount) {
            choices[c] = {given};
            continue;
        }
        const auto cFrom = closing.span.steadyFrom;
        const auto cTo = closing.span.steadyTo + slack;
        // The latest start among the events certainly handled before this closing: an event
        // that certainly ended before it cannot be the one right before this closing.
        SteadyClock::time_point latestCertainStart = SteadyClock::time_point::min();
        for (const KeyEvent& e : events) {
            if (e.closing != c && e.to < cFrom) {
                latestCertainStart = std::max(latestCertainStart, e.from);
            }
        }
        bool canZero = false;
        bool canKeep = false;
        for (const KeyEvent& e : events) {
            const bool possiblyBefore = e.closing != c && e.from <= cTo;
            if (!possiblyBefore || e.to < latestCertainStart) {
                continue;
            }
            if (e.unknown) {
                canZero = canKeep = true;
            } else if (e.key == closing.key) {
                canZero = true;
            } else {
                canKeep = true;
            }
        }
        if (canKeep || !canZero) {
            choices[c].push_back(given);
        }
        if (canZero) {
            choices[c].push_back(closing.amount1Zero);
        }
    }
    return choices;
}

std::vector<OutputExpectation> BuildExpectations(
    const Journal& journal, const OutputLayout& layout, const std::vector<int>& registers,
    const std::vector<std::pair<std::string, std::uintmax_t>>& startSizes,
    SteadyClock::time_point runStart) {
    std::vector<ClosingRecord> closings = journal.Closings();
    std::stable_sort(closings.begin(), closings.end(), [](const auto& a, const auto& b) {
        return a.span.steadyFrom < b.span.steadyFrom;
    });
    const auto amounts = FirstAmountChoices(closings, journal.Restarts(), layout, runStart);

    std::map<std::string, OutputExpectation> files;
    auto file = [&](const std::string& path) -> OutputExpectation& {
        OutputExpectation& out = files[path];
        out.path = path;
        for (const auto& [p, size] : startSizes) {
            if (p == path) {
                out.startOffset = size;
            }
        }
        return out;
    };
    for (int reg : registers) {
        file(RegisterFile(layout, layout.tranPath, reg)).byRegister[reg];
        file(RegisterFile(layout, layout.bonPath, reg)).byRegister[reg];
    }
    for (std::size_t c = 0; c < closings.size(); ++c) {
        const ClosingRecord& record = closings[c];
        const int reg = record.fields.logicalNb;
        auto& bon = file(RegisterFile(layout, layout.bonPath, reg)).byRegister[reg];
        bon.push_back(BonExpectation(record, amounts[c], layout.timeSlack));
        auto& tran = file(RegisterFile(layout, layout.tranPath, reg)).byRegister[reg];
        tran.insert(tran.end(), record.tranLines.begin(), record.tranLines.end());
    }
    std::vector<OutputExpectation> out;
    for (auto& [path, expectation] : files) {
        out.push_back(std::move(expectation));
    }
    return out;
}

}  // namespace tallyport::ecrsim
