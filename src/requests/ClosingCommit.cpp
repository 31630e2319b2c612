#include "requests/ClosingCommit.h"

#include <mutex>

#include "base/NoticeSink.h"
#include "link/SerialExtended.h"
#include "requests/ClosingAppends.h"
#include "requests/Journalling.h"
#include "requests/OutputFiles.h"
#include "requests/RequestContext.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

// The worker's journal: its register's records through the request context.
class WorkerLog final : public ClosingLog {
public:
    WorkerLog(TSerialExtended& link, RequestFields& fields, RequestContext& context)
        : link_(link), fields_(fields), context_(context) {}
    void Record(const JournalRecord& record) override {
        JournalRecords(link_, fields_, context_, {record});
    }
    bool Durable() override { return AwaitJournal(link_, context_); }
    void CrashPoint(std::string_view point) override { context_.CrashPoint(point); }

private:
    TSerialExtended& link_;
    RequestFields& fields_;
    RequestContext& context_;
};

// Writes one pending list's first lines to its file and lets go of them. A failure is shown
// to the user, since the worker otherwise goes on silently with the lines held back.
void AppendPendingLines(TSerialExtended& link, PendingLines& pending, const std::string& path,
                        const std::vector<std::string>& lines) {
    try {
        AppendLinesToFile(path, lines);
    } catch (const RequestError& e) {
        link.Status.SetError(e.what());
        link.TrayIcon.ShowNotice(
            "Eroare",
            "Nu se poate scrie in fisierul " + path + "! Liniile bonului raman in asteptare.", 10,
            NoticeIcon::Error);
        throw;
    }
    pending.DropFront(lines.size());
}

}  // namespace

ClosingCommit::ClosingCommit(TSerialExtended& link, RequestFields& fields, RequestContext& context)
    : link_(link), fields_(fields), context_(context), journal_(context.Journal()) {
    closing_.bonPath = link.ReceiptMasterFile;
    closing_.tranPath = link.ReceiptDetailFile;
}

bool ClosingCommit::Journal(const std::vector<std::string>& filled, const std::string& bonLine,
                            const std::optional<std::string>& key, const std::string& frame) {
    closing_.tranLines = filled;
    closing_.bonLines = link_.PendingBonLines.Copy();
    closing_.bonLines.push_back(bonLine);
    if (journal_ == nullptr) {
        return true;
    }
    closing_.seq = journal_->NextClosingSeq();
    JournalRecords(link_, fields_, context_, {ClosingRecord(closing_, key, frame)});
    if (!AwaitJournal(link_, context_, kClosingJournalWait)) {
        return false;
    }
    context_.CrashPoint("closing journalled, not acknowledged");
    return true;
}

bool ClosingCommit::Cancel(const std::optional<std::string>& key, const std::string& previousKey) {
    if (journal_ != nullptr && closing_.seq != 0) {
        JournalRecords(link_, fields_, context_, {SeqRecord('X', closing_.seq)});
    }
    if (key) {
        context_.RestoreLastClosingKey(*key, previousKey);
    }
    return false;
}

void ClosingCommit::Acknowledged() {
    if (journal_ != nullptr) {
        JournalRecords(link_, fields_, context_, {SeqRecord('P', closing_.seq)});
        context_.CrashPoint("acknowledged, not appended");
    }
}

void ClosingCommit::TakeLines() {
    // Only this worker changes its lists, so the copies taken above are still theirs.
    const std::vector<std::string>& filled = closing_.tranLines;
    link_.PendingTranLines.Update([&filled](std::vector<std::string>& lines) { lines = filled; });
    link_.PendingBonLines.Append(closing_.bonLines.back());
}

void ClosingCommit::WriteFiles() {
    // One closing's appends at a time, across all workers: the lines of two registers never
    // interleave and a closing's lines reach their files together.
    std::lock_guard<std::mutex> guard(context_.OutputFilesMutex());
    WorkerLog log(link_, fields_, context_);
    ClosingAppends appends(
        log, closing_,
        [this](const std::string& path, const std::vector<std::string>& lines, bool isBon) {
            AppendPendingLines(link_, isBon ? link_.PendingBonLines : link_.PendingTranLines, path,
                               lines);
        });
    if (!appends.PlaceNow()) {
        throw RequestError("the journal cannot be written");  // the lines stay pending
    }
    appends.Write(false);
}

}  // namespace tallyport
