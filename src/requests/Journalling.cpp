#include "requests/Journalling.h"

#include <set>

#include "base/LocalClock.h"
#include "base/NoticeSink.h"
#include "link/SerialExtended.h"
#include "requests/ClosingAppends.h"
#include "requests/OutputFiles.h"
#include "requests/RequestContext.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(200);

JournalFields FieldsOf(const RequestFields& fields) {
    return JournalFields{fields.DeptText, fields.VATText, fields.CommaText, fields.CardReference};
}

void Journal(TSerialExtended& link, const RequestFields& fields, RequestContext& context,
             ReceiptJournal& journal, std::vector<JournalRecord> records) {
    RequestContext::JournalSide& side = context.JournalSideOf(link.LogicalNb);
    const JournalFields now = FieldsOf(fields);
    if (!(now == side.journalled)) {
        records.insert(records.begin(), FieldsRecord(now));
        side.journalled = now;
    }
    if (!records.empty()) {
        side.ticket = journal.Append(link.LogicalNb, std::move(records));
    }
}

}  // namespace

void JournalRecords(TSerialExtended& link, const RequestFields& fields, RequestContext& context,
                    std::vector<JournalRecord> records) {
    if (ReceiptJournal* journal = context.Journal()) {
        Journal(link, fields, context, *journal, std::move(records));
    }
}

void JournalNewLine(TSerialExtended& link, const RequestFields& fields, RequestContext& context) {
    ReceiptJournal* journal = context.Journal();
    if (journal == nullptr) {
        return;
    }
    context.JournalSideOf(link.LogicalNb).resentClosing.reset();
    const std::vector<std::string> lines = link.PendingTranLines.Copy();
    Journal(link, fields, context, *journal, {SaleRecord(lines.back())});
}

void JournalVoid(TSerialExtended& link, const RequestFields& fields, RequestContext& context) {
    ReceiptJournal* journal = context.Journal();
    if (journal == nullptr) {
        return;
    }
    context.JournalSideOf(link.LogicalNb).resentClosing.reset();
    Journal(link, fields, context, *journal, {VoidRecord()});
}

void JournalFieldsIfChanged(TSerialExtended& link, const RequestFields& fields,
                            RequestContext& context) {
    ReceiptJournal* journal = context.Journal();
    if (journal == nullptr) {
        return;
    }
    Journal(link, fields, context, *journal, {});
}

void EndResendWindow(TSerialExtended& link, RequestContext& context) {
    if (context.Journal() != nullptr) {
        context.JournalSideOf(link.LogicalNb).resentClosing.reset();
    }
}

bool AwaitJournal(TSerialExtended& link, RequestContext& context,
                  std::optional<std::chrono::milliseconds> limit) {
    ReceiptJournal* journal = context.Journal();
    if (journal == nullptr) {
        return true;
    }
    const ReceiptJournal::Ticket ticket = context.JournalSideOf(link.LogicalNb).ticket;
    const auto deadline = std::chrono::steady_clock::now() + limit.value_or(kWaitSlice);
    // While the journal cannot be written this register is not served: its worker waits here
    // and does not poll, so the register is told nothing more that could not be kept. Its
    // status says so meanwhile, with the journal's reason (a slow disk is no failure).
    while (!journal->WaitDurable(link.LogicalNb, ticket, kWaitSlice)) {
        if (const std::optional<std::string> reason = journal->FailureOf(link.LogicalNb)) {
            link.Status.SetJournalError(*reason);
        }
        if (!link.Port.PortReady()) {
            // Stopped: the worker no longer waits. A later start waits again if it must.
            link.Status.ClearJournalError();
            return false;
        }
        if (limit && std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
    if (link.Status.JournalHeld()) {  // one atomic load on the normal path
        link.Status.ClearJournalError();
    }
    return true;
}

void WaitForJournalBeforeEachPoll(TSerialExtended& link, RequestContext& context) {
    TSerialExtended* served = &link;
    RequestContext* shared = &context;
    link.SetBeforeCycle([served, shared] { AwaitJournal(*served, *shared); });
}

namespace {

// The restore's journal: one register's records, each waited for before the next step, and
// applied to what the start-up read, so that the state handed to the worker is the journal's.
class StartupLog final : public ClosingLog {
public:
    StartupLog(ReceiptJournal& journal, int logicalNb, RegisterJournal& state,
               RequestContext& context)
        : journal_(journal), logicalNb_(logicalNb), state_(state), context_(context) {}
    void Record(const JournalRecord& record) override {
        ticket_ = journal_.Append(logicalNb_, {record});
        ApplyRecord(state_, record);
    }
    bool Durable() override {
        return journal_.WaitDurable(logicalNb_, ticket_, std::chrono::seconds(10));
    }
    void CrashPoint(std::string_view point) override {
        context_.CrashPoint("restart: " + std::string(point));
    }

private:
    ReceiptJournal& journal_;
    const int logicalNb_;
    RegisterJournal& state_;
    RequestContext& context_;
    ReceiptJournal::Ticket ticket_ = 0;
};

// Field `n` (1-based) of a comma-separated line.
std::string CsvField(const std::string& line, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = line.find(',', start);
        if (start == std::string::npos) {
            return "";
        }
        ++start;
    }
    return line.substr(start, line.find(',', start) - start);
}

// A receipt written at a restart where the file could not show that it was not there already:
// the back office checks the list beside the journal; the user is told where it is.
void ListUnprovenWrite(ReceiptJournal& journal, int reg, const OpenClosing& closing,
                       const UnprovenWrite& write, RequestContext& context, NoticeSink& notices) {
    const std::string bon = closing.bonLines.empty() ? std::string() : closing.bonLines.back();
    const LocalTime now = context.Clock().Now();
    const std::string entry = "casa " + std::to_string(reg) + "; bon " + CsvField(bon, 3) +
                              "; suma " + CsvField(bon, 6) + "; inchis " + CsvField(bon, 11) + " " +
                              CsvField(bon, 10) + "; scris din nou " + FormatDateDDMMYY(now) + " " +
                              FormatTimeHHMM(now) + "; " + write.path + "; " + write.reason;
    const std::string list = UnprovenListPath(journal);
    std::string where = list;
    try {
        AppendLinesToFile(list, {entry});
    } catch (const RequestError& e) {
        where = std::string("(lista nu poate fi scrisa: ") + e.what() + ")";
    }
    notices.ShowNotice("Atentie",
                       "Atentie: bonul " + CsvField(bon, 3) + " al casei " + std::to_string(reg) +
                           " a fost scris la repornire in " + write.path +
                           ", dar poate exista deja acolo (" + write.reason +
                           "). Verificati lista " + where + ".",
                       30, NoticeIcon::Warning);
}

// A closing the program acknowledged (or was about to) before it stopped: its lines go to the
// files now, once, by the commit's own steps, each one durable before the next.
void FinishOpenClosing(ReceiptJournal& journal, int reg, RegisterJournal& state,
                       RequestContext& context, NoticeSink& notices) {
    const OpenClosing closing = *state.open;
    StartupLog log(journal, reg, state, context);
    ClosingAppends appends(
        log, closing, [](const std::string& path, const std::vector<std::string>& lines, bool) {
            AppendLinesToFile(path, lines);
        });
    try {
        appends.Write(true);
    } catch (const RequestError& e) {
        notices.ShowNotice("Eroare",
                           "Eroare: " + std::string(e.what()) + "! Liniile bonului casei " +
                               std::to_string(reg) + " raman in asteptare.",
                           30, NoticeIcon::Error);
    }
    for (const UnprovenWrite& write : appends.Unproven()) {
        ListUnprovenWrite(journal, reg, closing, write, context, notices);
    }
}

}  // namespace

std::string UnprovenListPath(const ReceiptJournal& journal) {
    return journal.Folder() + "/DeVerificat.txt";
}

void RestoreFromJournal(ReceiptJournal::Loaded& loaded, const std::vector<TSerialExtended*>& links,
                        RequestContext& context, NoticeSink& notices) {
    ReceiptJournal* journal = context.Journal();
    if (journal == nullptr) {
        return;
    }
    context.SetLastClosingKey(loaded.lastClosingKey);
    std::set<int> served;
    for (TSerialExtended* link : links) {
        served.insert(link->LogicalNb);
    }
    for (auto& [reg, state] : loaded.registers) {
        if (state.open) {
            FinishOpenClosing(*journal, reg, state, context, notices);
        }
        if (!state.unreadableClosings.empty()) {
            notices.ShowNotice("Atentie",
                               "Casa " + std::to_string(reg) + " are " +
                                   std::to_string(state.unreadableClosings.size()) +
                                   " inchideri de bon care nu au putut fi citite, pastrate in " +
                                   journal->PathOf(reg) + ".",
                               30, NoticeIcon::Warning);
        }
        if (served.count(reg) == 0 && (state.HoldsLines() || !state.unreadableClosings.empty())) {
            notices.ShowNotice("Atentie",
                               "Casa " + std::to_string(reg) +
                                   " nu mai este in lista caselor de marcat, dar jurnalul ei are "
                                   "linii de bon nescrise: " +
                                   journal->PathOf(reg) + ". Liniile sunt pastrate.",
                               30, NoticeIcon::Warning);
        }
    }
    for (TSerialExtended* link : links) {
        auto it = loaded.registers.find(link->LogicalNb);
        if (it == loaded.registers.end()) {
            continue;
        }
        const RegisterJournal& state = it->second;
        link->PendingTranLines.Clear();
        for (const std::string& line : state.tranLines) {
            link->PendingTranLines.Append(line);
        }
        link->PendingBonLines.Clear();
        for (const std::string& line : state.bonLines) {
            link->PendingBonLines.Append(line);
        }
        RequestFields& fields = *context.FieldsOf(link->LogicalNb);
        fields.DeptText = state.fields.deptText;
        fields.VATText = state.fields.vatText;
        fields.CommaText = state.fields.commaText;
        fields.CardReference = state.fields.cardReference;
        RequestContext::JournalSide& side = context.JournalSideOf(link->LogicalNb);
        side.journalled = state.fields;
        // Only a closing whose padded acknowledgement may not have reached the register can
        // come again as the same frame; after one that did, an equal frame is a new payment.
        if (!state.lastClosingFrame.empty() && !state.lastClosingAcked) {
            side.resentClosing = state.lastClosingFrame;
        }
    }
}

}  // namespace tallyport
