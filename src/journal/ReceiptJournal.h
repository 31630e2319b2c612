#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "journal/JournalRecords.h"

namespace tallyport {

class NoticeSink;

class FolderLock;

// A journal that cannot be opened at all (its folder cannot be made or read).
class JournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The journal's folder is another program's: `HeldBy` names it.
class JournalLocked : public JournalError {
public:
    JournalLocked(const std::string& folder, std::string heldBy)
        : JournalError("Jurnalul din " + folder + " este folosit de " + heldBy),
          heldBy_(std::move(heldBy)) {}
    const std::string& HeldBy() const { return heldBy_; }

private:
    std::string heldBy_;
};

// The durable journal of what the registers were told: one append-only text file per register
// (by logical number) in one folder, written and fsync'd by one writer thread with group commit.
//
// A worker calls Append while it may hold its turn lock (it only queues: a few microseconds),
// then, after releasing the lock, WaitDurable before it goes on with that register; records of
// all registers that queued meanwhile reach the disk with one write and one fsync per file. After a
// closing's lines are in the back-office files ("D" record) its register's file is compacted
// (rewritten from what it says, through a temporary file and a rename).
//
// A file that cannot be written (full or read-only file system) keeps its records queued; the
// writer tries that register again every second while the other registers' records go out at
// once. The user is told once when a register's file fails and once when it is written again;
// these are the only notices of it. Its worker waits meanwhile, so nothing is acknowledged that
// is not kept. A damaged file (read back up to its first bad line, then set aside and written
// anew from what it said) or a folder that could not be synced after a rename holds its
// register the same way until the writer has put it right.
//
// One program per folder: Load takes an advisory lock on a file inside it (FolderLock) and the
// journal keeps it until it is destroyed.
//
// Owned by the shell, one per process; it must outlive every worker that uses it. Every public
// member is safe from any thread. Errors: Load throws JournalError; writes report through
// WaitDurable and the notice sink.
class ReceiptJournal {
public:
    // A named point in the writer (tests stop the process there).
    using CrashHook = std::function<void(std::string_view point)>;

    ReceiptJournal(std::string folder, NoticeSink& notices, CrashHook crashHook = {});
    ~ReceiptJournal();  // writes what is queued (one try), then ends the writer
    ReceiptJournal(const ReceiptJournal&) = delete;
    ReceiptJournal& operator=(const ReceiptJournal&) = delete;

    // The folder beside the transaction file: "<its folder>/Tallyport.journal".
    static std::string FolderBeside(const std::string& receiptDetailPath);

    struct Loaded {
        std::map<int, RegisterJournal> registers;  // by logical number
        std::string lastClosingKey;                // of the latest closing of any register
        std::vector<std::string> problems;         // damaged files set aside (told already)
        std::map<int, std::string> repairs;        // damaged files: where each is set aside
    };
    // Creates the folder if needed, locks it (JournalLocked when another program has it) and
    // reads every register's file. A torn last line is cut off; a damaged file gives what its
    // records before the first bad line say, is renamed aside ("<name>.damaged-<seconds>"),
    // written anew from those records and reported with both paths. Call once, before the
    // first Append. With `previousFolder` (where the journal was last used, JournalPlace.h)
    // naming another folder, its register files are carried here first, under its lock too:
    // JournalError (nothing changed) when that folder is another program's or a register has a
    // file with something in it in both places.
    Loaded Load(const std::string& previousFolder = {});

    using Ticket = std::uint64_t;
    Ticket Append(int logicalNb, std::vector<JournalRecord> records);
    // True when everything `logicalNb` appended up to `ticket` is on the disk (for the ticket 0,
    // nothing appended, when its file is not waiting to be put right); waits at most `wait`.
    bool WaitDurable(int logicalNb, Ticket ticket, std::chrono::milliseconds wait);
    // True while a register's file cannot be written.
    bool Failing(int logicalNb) const;
    // Why a register's file cannot be written (the text told to the user's notice); empty
    // while it can.
    std::optional<std::string> FailureOf(int logicalNb) const;

    // How many closings that could not be read the register's journal keeps for the user.
    std::size_t UnreadableKept(int logicalNb) const;

    // A new closing sequence number, higher than any in the journal.
    std::uint64_t NextClosingSeq();

    const std::string& Folder() const { return folder_; }
    std::string PathOf(int logicalNb) const;

private:
    struct Queued {
        std::deque<JournalRecord> records;
        Ticket lastTicket = 0;
    };
    // A register's file that must be rewritten from what it says before anything more is
    // written to it: a damaged one (set aside first) or one whose rename may not be durable.
    struct Repair {
        std::string damaged;  // set this file aside first ("" when done or not damaged)
    };
    using Clock = std::chrono::steady_clock;
    void WriterLoop();
    // Takes the queued records of the registers not waiting for a retry; the earliest retry.
    std::map<int, Queued> TakeReady(Clock::time_point now, std::optional<Clock::time_point>& next);
    bool WriteRegister(int logicalNb, const std::vector<JournalRecord>& records,
                       std::string& error);
    bool WriteBatch(int logicalNb, const std::vector<JournalRecord>& records, std::string& error);
    // From fileState_, through a rename; `renamed` tells whether the new file is in place.
    bool Rewrite(int logicalNb, std::string& error, bool* renamed = nullptr);
    bool RunRepair(int logicalNb, std::string& error);
    void Compact(int logicalNb);
    void LoadFile(int logicalNb, const std::string& name, Loaded& loaded);
    void CarryFrom(const std::string& previousFolder);
    void Tell(int logicalNb, const std::string& error);
    void TellWritable(int logicalNb);

    const std::string folder_;
    NoticeSink& notices_;
    const CrashHook crashHook_;

    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable written_;
    std::map<int, Queued> queue_;
    std::map<int, Ticket> durable_;
    std::map<int, std::string> failing_;        // register -> the reason told to the user
    std::map<int, Clock::time_point> retryAt_;  // registers whose last write failed
    std::map<int, Repair> repairs_;             // registers held until their file is put right
    std::map<int, std::size_t> unreadable_;     // "U" records kept, per register
    Ticket nextTicket_ = 0;
    std::uint64_t nextSeq_ = 1;
    bool stop_ = false;

    // The writer thread's own (Load's before the first Append): what each file says.
    std::map<int, RegisterJournal> fileState_;

    std::unique_ptr<FolderLock> lock_;
    std::thread writer_;
};

}  // namespace tallyport
