#include "journal/ReceiptJournal.h"

#include <ctime>

#include "base/FileIo.h"
#include "base/NoticeSink.h"
#include "journal/FolderLock.h"
#include "journal/JournalFiles.h"
#include "journal/JournalPlace.h"

namespace tallyport {

namespace {

constexpr auto kRetryInterval = std::chrono::seconds(1);
constexpr char kFilePrefix[] = "ECR";
constexpr char kFileSuffix[] = ".txt";

// The logical number of a journal file name ("ECR12.txt"), or -1.
int RegisterOfName(const std::string& name) {
    const std::string prefix = kFilePrefix;
    const std::string suffix = kFileSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return -1;
    }
    const std::string digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stoi(digits);
}

std::string Encode(const std::vector<JournalRecord>& records) {
    std::string bytes;
    for (const JournalRecord& r : records) {
        bytes += EncodeRecord(r);
    }
    return bytes;
}

// A closing's record and everything after it, when it is still queued: its cancel makes them
// say nothing, so neither is written (a register repeating a closing the journal could not
// keep in time leaves no trail of them).
bool DropCancelledClosing(std::deque<JournalRecord>& queued, const std::string& seq) {
    for (auto it = queued.rbegin(); it != queued.rend(); ++it) {
        if (it->kind == 'C' && !it->fields.empty() && it->fields[0] == seq) {
            queued.erase(std::prev(it.base()), queued.end());
            return true;
        }
    }
    return false;
}

}  // namespace

ReceiptJournal::ReceiptJournal(std::string folder, NoticeSink& notices, CrashHook crashHook)
    : folder_(std::move(folder)), notices_(notices), crashHook_(std::move(crashHook)) {
    writer_ = std::thread([this] { WriterLoop(); });
}

ReceiptJournal::~ReceiptJournal() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
    }
    queued_.notify_all();
    writer_.join();
}

std::string ReceiptJournal::FolderBeside(const std::string& receiptDetailPath) {
    std::string folder = FolderOf(receiptDetailPath);
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder + "Tallyport.journal";
}

std::string ReceiptJournal::PathOf(int logicalNb) const {
    return folder_ + "/" + kFilePrefix + std::to_string(logicalNb) + kFileSuffix;
}

ReceiptJournal::Loaded ReceiptJournal::Load(const std::string& previousFolder) {
    std::string error;
    if (!MakeFolder(folder_, error)) {
        throw JournalError(error);
    }
    std::string heldBy;
    lock_ = FolderLock::Take(folder_, FolderLock::ThisProgram(), heldBy, error);
    if (!lock_) {
        if (!heldBy.empty()) {
            throw JournalLocked(folder_, heldBy);
        }
        throw JournalError(error);
    }
    if (!previousFolder.empty() && AbsoluteFolder(previousFolder) != AbsoluteFolder(folder_)) {
        CarryFrom(previousFolder);
    }
    std::vector<std::string> names;
    if (!FolderNames(folder_, names, error)) {
        throw JournalError(error);
    }
    Loaded loaded;
    for (const std::string& name : names) {
        const int reg = RegisterOfName(name);
        if (reg >= 0) {
            LoadFile(reg, name, loaded);
        }
    }
    std::uint64_t latestKeySeq = 0;
    std::uint64_t highest = 0;
    for (const auto& [reg, state] : loaded.registers) {
        highest = std::max(highest, state.highestSeq);
        if (state.keySeq > latestKeySeq) {
            latestKeySeq = state.keySeq;
            loaded.lastClosingKey = state.key;
        }
    }
    std::lock_guard<std::mutex> guard(mutex_);
    nextSeq_ = std::max(nextSeq_, highest + 1);
    // Handed to the writer only now, under its lock: what it rewrites them from is read.
    for (const auto& [reg, aside] : loaded.repairs) {
        repairs_[reg] = Repair{aside};
    }
    if (!repairs_.empty()) {
        queued_.notify_one();  // the writer puts the damaged files right
    }
    return loaded;
}

void ReceiptJournal::CarryFrom(const std::string& previous) {
    std::string error;
    std::vector<std::string> names;
    if (!FolderNames(previous, names, error)) {
        return;  // gone, or never made: nothing was left there
    }
    std::vector<std::string> files;
    for (const std::string& name : names) {
        if (RegisterOfName(name) >= 0) {
            files.push_back(name);
        }
    }
    if (files.empty()) {
        return;
    }
    std::string heldBy;
    const std::unique_ptr<FolderLock> lock =
        FolderLock::Take(previous, FolderLock::ThisProgram(), heldBy, error);
    if (!lock) {
        throw heldBy.empty() ? JournalError(error) : JournalLocked(previous, heldBy);
    }
    // Checked first, so that a refusal leaves both folders as they were.
    std::map<std::string, std::string> carried;
    for (const std::string& name : files) {
        std::string bytes;
        if (!ReadWholeFile(previous + "/" + name, bytes, error)) {
            throw JournalError(error);
        }
        std::string here;
        std::string ignored;
        if (ReadWholeFile(folder_ + "/" + name, here, ignored) && here != bytes &&
            ParseJournal(here).state.HoldsLines()) {
            throw JournalError("Jurnalul casei " + std::to_string(RegisterOfName(name)) +
                               " are linii atat in " + previous + " cat si in " + folder_);
        }
        carried[name] = std::move(bytes);
    }
    // Each file is whole in its new place (synced, renamed in, the folder synced) before the old
    // one goes: an interruption leaves it in both, the same bytes, which the next start takes.
    for (const auto& [name, bytes] : carried) {
        const std::string target = folder_ + "/" + name;
        if (!WriteSyncedFile(target + ".new", bytes, error) ||
            !RenameFile(target + ".new", target, error) || !SyncFolder(folder_, error) ||
            !RemoveFile(previous + "/" + name, error)) {
            throw JournalError(error);
        }
    }
    if (!SyncFolder(previous, error)) {
        throw JournalError(error);
    }
    notices_.ShowNotice("Atentie",
                        "Jurnalul a fost mutat din " + previous + " in " + folder_ +
                            ", langa fisierul de tranzactii.",
                        10, NoticeIcon::Information);
}

void ReceiptJournal::LoadFile(int reg, const std::string& name, Loaded& loaded) {
    const std::string path = folder_ + "/" + name;
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        throw JournalError(error);
    }
    ParsedJournal parsed = ParseJournal(bytes);
    if (parsed.damagedLine) {
        // What the records before the damage say is kept; the file itself stays for a
        // technician under another name, and the register's file is written anew from them
        // (by the writer, which holds the register until that is done).
        const std::string aside = path + ".damaged-" + std::to_string(std::time(nullptr));
        std::string text =
            "Jurnalul casei " + std::to_string(reg) + " este deteriorat (linia " +
            std::to_string(*parsed.damagedLine) +
            "); liniile de dinaintea ei sunt pastrate, fisierul este pus deoparte: " + aside;
        loaded.problems.push_back(text);
        notices_.ShowNotice("Eroare", "Eroare: " + text + "!", 30, NoticeIcon::Error);
        loaded.repairs[reg] = aside;
    } else if (parsed.tornTail) {
        // A record the power cut tore was never reported durable: cut it off, so that the
        // next record starts on a line of its own.
        if (!CutFile(path, parsed.validBytes, error)) {
            throw JournalError(error);
        }
    }
    fileState_[reg] = parsed.state;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        unreadable_[reg] = parsed.state.unreadableClosings.size();
    }
    loaded.registers[reg] = std::move(parsed.state);
}

ReceiptJournal::Ticket ReceiptJournal::Append(int logicalNb, std::vector<JournalRecord> records) {
    Ticket ticket = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        Queued& q = queue_[logicalNb];
        for (JournalRecord& r : records) {
            if (r.kind == 'X' && r.fields.size() == 1 &&
                DropCancelledClosing(q.records, r.fields[0])) {
                continue;
            }
            if (r.kind == 'U') {
                ++unreadable_[logicalNb];
            }
            q.records.push_back(std::move(r));
        }
        ticket = ++nextTicket_;
        q.lastTicket = ticket;
    }
    queued_.notify_one();
    return ticket;
}

bool ReceiptJournal::WaitDurable(int logicalNb, Ticket ticket, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return written_.wait_for(lock, wait, [&] {
        if (repairs_.count(logicalNb) != 0) {
            return false;  // nothing counts until the file is put right
        }
        if (ticket == 0) {
            return true;  // nothing appended yet
        }
        auto it = durable_.find(logicalNb);
        return it != durable_.end() && it->second >= ticket;
    });
}

bool ReceiptJournal::Failing(int logicalNb) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return failing_.count(logicalNb) != 0;
}

std::optional<std::string> ReceiptJournal::FailureOf(int logicalNb) const {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = failing_.find(logicalNb);
    if (found == failing_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::size_t ReceiptJournal::UnreadableKept(int logicalNb) const {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = unreadable_.find(logicalNb);
    return found == unreadable_.end() ? 0 : found->second;
}

std::uint64_t ReceiptJournal::NextClosingSeq() {
    std::lock_guard<std::mutex> guard(mutex_);
    return nextSeq_++;
}

std::map<int, ReceiptJournal::Queued> ReceiptJournal::TakeReady(
    Clock::time_point now, std::optional<Clock::time_point>& next) {
    std::map<int, Queued> batch;
    next.reset();
    auto waiting = [&](int reg) {
        const auto retry = retryAt_.find(reg);
        if (retry == retryAt_.end() || retry->second <= now) {
            return false;
        }
        next = next ? std::min(*next, retry->second) : retry->second;
        return true;
    };
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (waiting(it->first)) {
            ++it;
        } else {
            batch.emplace(it->first, std::move(it->second));
            it = queue_.erase(it);
        }
    }
    for (const auto& [reg, repair] : repairs_) {
        if (batch.count(reg) == 0 && !waiting(reg)) {
            batch.emplace(reg, Queued{});  // a repair with nothing queued
        }
    }
    return batch;
}

void ReceiptJournal::WriterLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::optional<Clock::time_point> next;
        std::map<int, Queued> batch = TakeReady(Clock::now(), next);
        if (batch.empty()) {
            if (stop_) {
                return;  // what still waits for a retry stays unacknowledged
            }
            if (next) {
                queued_.wait_until(lock, *next);
            } else {
                queued_.wait(lock);
            }
            continue;
        }
        const bool stopping = stop_;
        lock.unlock();

        std::map<int, std::string> failures;
        std::vector<int> written;
        for (auto& [reg, q] : batch) {
            std::vector<JournalRecord> records(q.records.begin(), q.records.end());
            std::string error;
            if (WriteRegister(reg, records, error)) {
                written.push_back(reg);
            } else {
                failures[reg] = error;
            }
        }

        lock.lock();
        std::vector<int> recovered;
        for (int reg : written) {
            durable_[reg] = std::max(durable_[reg], batch[reg].lastTicket);
            retryAt_.erase(reg);
            if (failing_.erase(reg) != 0) {
                recovered.push_back(reg);
            }
        }
        for (const auto& [reg, error] : failures) {
            // Back to the front of the register's queue, in order, to be tried again later;
            // the other registers' records do not wait for it.
            Queued& q = queue_[reg];
            Queued& failed = batch[reg];
            q.records.insert(q.records.begin(), failed.records.begin(), failed.records.end());
            q.lastTicket = std::max(q.lastTicket, failed.lastTicket);
            retryAt_[reg] = Clock::now() + kRetryInterval;
            const bool firstTime = failing_.count(reg) == 0;
            failing_[reg] = error;
            if (firstTime) {
                lock.unlock();
                Tell(reg, error);
                lock.lock();
            }
        }
        written_.notify_all();
        if (!recovered.empty()) {
            lock.unlock();
            for (int reg : recovered) {
                TellWritable(reg);
            }
            lock.lock();
        }
        if (stopping) {
            return;  // one try at the end; what failed stays unacknowledged
        }
    }
}

bool ReceiptJournal::WriteRegister(int logicalNb, const std::vector<JournalRecord>& records,
                                   std::string& error) {
    if (!RunRepair(logicalNb, error)) {
        return false;
    }
    if (records.empty()) {
        return true;
    }
    if (!WriteBatch(logicalNb, records, error)) {
        return false;
    }
    bool closingEnded = false;
    for (const JournalRecord& r : records) {
        ApplyRecord(fileState_[logicalNb], r);
        closingEnded = closingEnded || r.kind == 'D' || r.kind == 'X';
    }
    if (closingEnded) {
        // A closing in its files, or cancelled: the file says the same in fewer lines. After a
        // cancel too, so that a register repeating a closing the journal kept too late leaves
        // one closing record, not one per repeat.
        if (crashHook_) {
            crashHook_("closing done, not compacted");
        }
        Compact(logicalNb);
    }
    return true;
}

bool ReceiptJournal::RunRepair(int logicalNb, std::string& error) {
    std::string damaged;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = repairs_.find(logicalNb);
        if (it == repairs_.end()) {
            return true;
        }
        damaged = it->second.damaged;
    }
    const std::string path = PathOf(logicalNb);
    if (!damaged.empty()) {
        if (!RenameFile(path, damaged, error)) {
            return false;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        repairs_[logicalNb].damaged.clear();
    }
    if (!Rewrite(logicalNb, error)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    repairs_.erase(logicalNb);
    return true;
}

bool ReceiptJournal::WriteBatch(int logicalNb, const std::vector<JournalRecord>& records,
                                std::string& error) {
    if (!AppendDurably(PathOf(logicalNb), Encode(records), error)) {
        return false;
    }
    if (crashHook_) {
        // A kill before or after the sync leaves the same file; tests stop at the first point
        // and cut the last record off themselves for a power cut.
        crashHook_("journal written, not synced");
        crashHook_("journal synced");
    }
    return true;
}

bool ReceiptJournal::Rewrite(int logicalNb, std::string& error, bool* renamed) {
    const std::string path = PathOf(logicalNb);
    const std::string temporary = path + ".new";
    const std::string bytes = Encode(SnapshotRecords(fileState_[logicalNb]));
    if (!WriteSyncedFile(temporary, bytes, error)) {
        std::string ignored;
        (void)RemoveFile(temporary, ignored);
        return false;
    }
    if (crashHook_) {
        crashHook_("compaction written, not renamed");
    }
    if (!RenameFile(temporary, path, error)) {
        std::string ignored;
        (void)RemoveFile(temporary, ignored);
        return false;
    }
    if (renamed != nullptr) {
        *renamed = true;
    }
    return SyncFolder(folder_, error);
}

void ReceiptJournal::Compact(int logicalNb) {
    std::string error;
    bool renamed = false;
    if (Rewrite(logicalNb, error, &renamed)) {
        return;
    }
    // A compaction that could not be written leaves the longer file, which says the same. One
    // renamed into place whose folder could not be synced may come back as the old file after a
    // power cut, and records added to the new one would go with it: the register is held until
    // the rewrite is durable.
    if (renamed) {
        std::lock_guard<std::mutex> guard(mutex_);
        repairs_[logicalNb] = Repair{};
        retryAt_[logicalNb] = Clock::now() + kRetryInterval;
    }
}

void ReceiptJournal::Tell(int logicalNb, const std::string& error) {
    notices_.ShowNotice("Eroare",
                        "Eroare: Jurnalul casei " + std::to_string(logicalNb) +
                            " nu poate fi scris (" + error +
                            ")! Casa nu este servita pana cand jurnalul poate fi scris.",
                        30, NoticeIcon::Error);
}

void ReceiptJournal::TellWritable(int logicalNb) {
    const std::string reg = std::to_string(logicalNb);
    notices_.ShowNotice(
        "Casa " + reg + ": jurnal scris din nou",
        "Jurnalul casei " + reg + " poate fi scris din nou; casa este servita din nou.", 10,
        NoticeIcon::Information);
}

}  // namespace tallyport
