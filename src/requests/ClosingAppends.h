#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/JournalRecords.h"

namespace tallyport {

// The journal as a closing's steps use it: the register's records in order, and a wait until
// they are on the disk. The worker's commit and the start-up's restore each give their own.
class ClosingLog {
public:
    virtual ~ClosingLog() = default;
    virtual void Record(const JournalRecord& record) = 0;  // queued, in order
    virtual bool Durable() = 0;  // true once everything recorded is on the disk
    virtual void CrashPoint(std::string_view point) = 0;  // tests stop the program here
};

// A file's lines written where a restart could not prove them absent: they may now be there
// twice (the file was emptied or cut by an import after they had reached it).
struct UnprovenWrite {
    std::string path;
    std::string reason;  // for the user
};

// Puts a closing's lines into its two files, so that a restart can always tell what reached
// them and any number of interruptions writes them once:
//   for the receipt-closing file (unless marked "B"), then the transaction file:
//     1. where its lines go: the size the journal holds for it, checked against the file (a
//        restart), or the size now, journalled ("A") and on the disk before the first byte;
//     2. the lines, with one write and a sync (`write`);
//     3. the mark, "B" or "D" (waited for at a restart: the next step relies on it).
// Steps 1-3 share the lines' bytes only, not where they come from: the worker passes its
// pending lists' writer, the restore the plain appender. Used on one thread at a time.
class ClosingAppends {
public:
    // `write(path, lines, isBonFile)` appends the lines (throws RequestError when it cannot).
    using Writer = std::function<void(const std::string&, const std::vector<std::string>&, bool)>;

    ClosingAppends(ClosingLog& log, const OpenClosing& closing, Writer write);

    // The commit's step 1 for both files at once: their sizes now, durable before returning
    // (false when the journal cannot be written: nothing was appended).
    bool PlaceNow();
    // Steps 1-3 for every file not marked yet. A restart's marks are waited for
    // (`waitForMarks`). Throws RequestError when a file or the journal fails; what was done
    // so far is journalled and the rest is done by the next try.
    void Write(bool waitForMarks);

    const std::vector<UnprovenWrite>& Unproven() const { return unproven_; }

private:
    enum class Found { Written, Absent, Torn, Elsewhere, Unproven };
    struct FileStep {
        const std::string& path;
        const std::vector<std::string>& lines;
        std::uint64_t& offset;
        std::string& stamp;
        bool isBon;
    };
    Found Inspect(const FileStep& step, std::string& reason);
    void WriteOne(const FileStep& step, bool waitForMarks);
    void RecordPlace();

    ClosingLog& log_;
    OpenClosing closing_;  // a copy, with the places as they are decided
    Writer write_;
    std::vector<UnprovenWrite> unproven_;
    std::uint64_t bonOffset_ = 0;
    std::uint64_t tranOffset_ = 0;
    std::string bonStamp_;
    std::string tranStamp_;
    bool placed_ = false;  // this process journalled the places just now (nothing to check)
};

// Lines joined with CR LF after each, as the back-office files hold them.
std::string CrLfLines(const std::vector<std::string>& lines);

}  // namespace tallyport
