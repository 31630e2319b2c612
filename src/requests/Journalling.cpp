#include "requests/Journalling.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "base/NoticeSink.h"
#include "base/UniqueFd.h"
#include "link/SerialExtended.h"
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

// The bytes of `path` from `offset`, at most `length` of them.
std::string ReadAt(int fd, std::uint64_t offset, std::size_t length) {
    std::string bytes(length, '\0');
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n =
            ::pread(fd, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

[[noreturn]] void Fail(const std::string& path, int error) {
    throw RequestError("Cannot write file " + path + ": " + std::strerror(error));
}

std::vector<std::string> SplitCrLf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

}  // namespace

void JournalRecords(TSerialExtended& link, const RequestFields& fields, RequestContext& context,
                    std::vector<JournalRecord> records) {
    if (ReceiptJournal* journal = context.Journal()) {
        Journal(link, fields, context, *journal, std::move(records));
    }
}

std::uint64_t FileSizeOrZero(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
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

std::string CrLfLines(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

void CompleteAppend(const std::string& path, std::optional<std::uint64_t> offset,
                    const std::string& bytes, std::string& notice) {
    if (bytes.empty()) {
        return;
    }
    if (offset) {
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        struct stat st {};
        if (fd.Valid() && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode)) {
            const auto size = static_cast<std::uint64_t>(st.st_size);
            if (size > *offset) {
                const std::string there = ReadAt(fd.Get(), *offset, bytes.size());
                if (there == bytes) {
                    return;  // written before the restart
                }
                if (bytes.compare(0, there.size(), there) == 0 && size < *offset + bytes.size()) {
                    // A write the crash cut short: ours only, to the end. Cut it back and
                    // write it whole.
                    if (::ftruncate(fd.Get(), static_cast<off_t>(*offset)) != 0 ||
                        ::fsync(fd.Get()) != 0) {
                        Fail(path, errno);
                    }
                }
                // Otherwise others' lines follow the size we recorded: our write was cut back
                // before them, so ours go at the end.
            } else if (size < *offset) {
                notice = "Fisierul " + path +
                         " este mai scurt decat la scrierea intrerupta; liniile bonului se "
                         "scriu din nou";
            }
        }
    }
    AppendLinesToFile(path, SplitCrLf(bytes));
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
            // A closing the program acknowledged (or was about to) before it stopped: its
            // lines go to the files now, once.
            OpenClosing& c = *state.open;
            std::string notice;
            try {
                if (!c.bonWritten) {
                    CompleteAppend(c.bonPath,
                                   c.offsets ? std::optional(c.offsets->first) : std::nullopt,
                                   CrLfLines(c.bonLines), notice);
                    state.bonLines.clear();
                    c.bonWritten = true;
                }
                CompleteAppend(c.tranPath,
                               c.offsets ? std::optional(c.offsets->second) : std::nullopt,
                               CrLfLines(c.tranLines), notice);
                const auto ticket = journal->Append(reg, {SeqRecord('D', c.seq)});
                journal->WaitDurable(reg, ticket, std::chrono::seconds(10));
                state.tranLines.clear();
                state.bonLines.clear();
                state.open.reset();
            } catch (const RequestError& e) {
                notices.ShowNotice("Eroare",
                                   std::string(e.what()) + "! Liniile bonului raman in asteptare.",
                                   30, NoticeIcon::Error);
            }
            if (!notice.empty()) {
                notices.ShowNotice("Atentie", notice + ".", 30, NoticeIcon::Warning);
            }
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
        if (!state.lastClosingFrame.empty()) {
            side.resentClosing = state.lastClosingFrame;
        }
    }
}

}  // namespace tallyport
