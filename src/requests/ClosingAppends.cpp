#include "requests/ClosingAppends.h"

#include "journal/JournalFiles.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

// The bytes at the recorded place are a write of ours that a crash cut short: our bytes, or
// the zeros a file system leaves where a torn append had extended the file.
bool TornCopyOf(const std::string& there, const std::string& ours) {
    for (std::size_t i = 0; i < there.size(); ++i) {
        if (there[i] != ours[i] && there[i] != '\0') {
            return false;
        }
    }
    return true;
}

// A file that is not there, or not a file (its write fails and says so), counts as empty.
FileStamp StampNow(const std::string& path) {
    std::string error;
    std::optional<FileStamp> stamp = StampOf(path, error);
    if (!stamp || !stamp->regular) {
        return FileStamp{};
    }
    return *stamp;
}

[[noreturn]] void JournalFailed() {
    throw RequestError("the journal cannot be written");
}

}  // namespace

std::string CrLfLines(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

ClosingAppends::ClosingAppends(ClosingLog& log, const OpenClosing& closing, Writer write)
    : log_(log), closing_(closing), write_(std::move(write)) {
    if (closing_.offsets) {
        bonOffset_ = closing_.offsets->first;
        tranOffset_ = closing_.offsets->second;
        bonStamp_ = closing_.stamps.first;
        tranStamp_ = closing_.stamps.second;
    }
}

void ClosingAppends::RecordPlace() {
    log_.Record(IntentRecord(closing_.seq, bonOffset_, tranOffset_, bonStamp_, tranStamp_));
    closing_.offsets = std::make_pair(bonOffset_, tranOffset_);
}

bool ClosingAppends::PlaceNow() {
    const FileStamp bon = StampNow(closing_.bonPath);
    bonOffset_ = bon.size;
    bonStamp_ = bon.identity;
    if (closing_.tranPath == closing_.bonPath) {
        // Both in one file: the transaction lines follow the closing lines; what the file
        // looks like then is not known yet.
        tranOffset_ = bon.size + CrLfLines(closing_.bonLines).size();
        tranStamp_.clear();
    } else {
        const FileStamp tran = StampNow(closing_.tranPath);
        tranOffset_ = tran.size;
        tranStamp_ = tran.identity;
    }
    RecordPlace();
    placed_ = true;
    if (!log_.Durable()) {
        return false;
    }
    log_.CrashPoint("appends journalled, not written");
    return true;
}

ClosingAppends::Found ClosingAppends::Inspect(const FileStep& step, std::string& reason) {
    if (placed_) {
        return Found::Absent;  // journalled by this process just now, under the files' lock
    }
    const std::string ours = CrLfLines(step.lines);
    const FileStamp now = StampNow(step.path);
    if (now.size > step.offset) {
        std::string there;
        std::string error;
        if (!ReadFileAt(step.path, step.offset, ours.size(), there, error)) {
            throw RequestError(error);
        }
        if (there == ours) {
            return Found::Written;
        }
        if (now.size <= step.offset + ours.size() && TornCopyOf(there, ours)) {
            return Found::Torn;
        }
        return Found::Elsewhere;  // others' lines at our place: ours never reached it
    }
    if (now.size == step.offset && now.identity == step.stamp) {
        return Found::Absent;  // untouched since the place was journalled
    }
    reason = now.size < step.offset
                 ? "fisierul este mai scurt decat la scrierea intrerupta"
                 : "fisierul are lungimea de la scrierea intrerupta, dar a fost schimbat";
    return Found::Unproven;
}

void ClosingAppends::WriteOne(const FileStep& step, bool waitForMarks) {
    if (!step.lines.empty()) {
        std::string reason;
        const Found found = Inspect(step, reason);
        if (found != Found::Written) {
            if (found == Found::Torn) {
                std::string error;
                if (!CutFile(step.path, step.offset, error)) {
                    throw RequestError(error);
                }
            }
            if (found != Found::Absent) {
                // Somewhere else than journalled (or the file changed): the new place is on
                // the disk before the first byte, so an interruption now is told apart too.
                const FileStamp now = StampNow(step.path);
                step.offset = now.size;
                step.stamp = now.identity;
                RecordPlace();
                if (!log_.Durable()) {
                    JournalFailed();
                }
            }
            if (found == Found::Unproven) {
                unproven_.push_back({step.path, reason});
            }
            log_.CrashPoint(step.isBon ? "receipt-closing place known, not written"
                                       : "transaction place known, not written");
            write_(step.path, step.lines, step.isBon);
        }
    }
    log_.Record(SeqRecord(step.isBon ? 'B' : 'D', closing_.seq));
    log_.CrashPoint(step.isBon ? "receipt-closing file written" : "transaction file written");
    if (waitForMarks && !log_.Durable()) {
        JournalFailed();
    }
}

void ClosingAppends::Write(bool waitForMarks) {
    // Never placed: no byte of it was written (the place is durable before the first one).
    if (!closing_.offsets && !PlaceNow()) {
        JournalFailed();
    }
    if (!closing_.bonWritten) {
        WriteOne({closing_.bonPath, closing_.bonLines, bonOffset_, bonStamp_, true}, waitForMarks);
        closing_.bonWritten = true;
    }
    WriteOne({closing_.tranPath, closing_.tranLines, tranOffset_, tranStamp_, false}, waitForMarks);
}

}  // namespace tallyport
