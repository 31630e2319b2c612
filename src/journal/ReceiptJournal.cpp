#include "journal/ReceiptJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/FileIo.h"
#include "base/NoticeSink.h"
#include "base/UniqueFd.h"

namespace tallyport {

namespace {

constexpr auto kRetryInterval = std::chrono::seconds(1);
constexpr char kFilePrefix[] = "ECR";
constexpr char kFileSuffix[] = ".txt";

std::string SystemReason(int error) {
    return std::strerror(error);
}

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

bool ReadWhole(const std::string& path, std::string& bytes, int& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = errno;
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errno;
            return false;
        }
        if (n == 0) {
            return true;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string Encode(const std::vector<JournalRecord>& records) {
    std::string bytes;
    for (const JournalRecord& r : records) {
        bytes += EncodeRecord(r);
    }
    return bytes;
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

ReceiptJournal::Loaded ReceiptJournal::Load() {
    if (::mkdir(folder_.c_str(), 0777) != 0 && errno != EEXIST) {
        throw JournalError("Cannot create folder " + folder_ + ": " + SystemReason(errno));
    }
    SyncFolderOf(folder_);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), ::closedir);
    if (!dir) {
        throw JournalError("Cannot read folder " + folder_ + ": " + SystemReason(errno));
    }
    std::vector<std::pair<int, std::string>> files;
    while (const dirent* entry = ::readdir(dir.get())) {
        const int reg = RegisterOfName(entry->d_name);
        if (reg >= 0) {
            files.emplace_back(reg, entry->d_name);
        }
    }

    Loaded loaded;
    std::uint64_t latestKeySeq = 0;
    std::uint64_t highest = 0;
    for (const auto& [reg, name] : files) {
        const std::string path = folder_ + "/" + name;
        std::string bytes;
        int error = 0;
        if (!ReadWhole(path, bytes, error)) {
            throw JournalError("Cannot read file " + path + ": " + SystemReason(error));
        }
        ParsedJournal parsed = ParseJournal(bytes);
        if (parsed.damagedLine) {
            // Never silently discarded: the file stays for a technician under another name.
            const std::string aside = path + ".damaged-" + std::to_string(std::time(nullptr));
            const bool moved = ::rename(path.c_str(), aside.c_str()) == 0;
            SyncFolderOf(path);
            std::string text = "Jurnalul casei " + std::to_string(reg) +
                               " este deteriorat (linia " + std::to_string(*parsed.damagedLine) +
                               ")";
            text += moved ? " si a fost pus deoparte: " + aside : ": " + path;
            loaded.problems.push_back(text);
            notices_.ShowNotice("Eroare", "Eroare: " + text + "!", 30, NoticeIcon::Error);
            continue;
        }
        if (parsed.tornTail) {
            // A record the power cut tore was never reported durable: cut it off, so that the
            // next record starts on a line of its own.
            if (::truncate(path.c_str(), static_cast<off_t>(parsed.validBytes)) != 0) {
                throw JournalError("Cannot write file " + path + ": " + SystemReason(errno));
            }
        }
        highest = std::max(highest, parsed.state.highestSeq);
        if (parsed.state.keySeq > latestKeySeq) {
            latestKeySeq = parsed.state.keySeq;
            loaded.lastClosingKey = parsed.state.key;
        }
        fileState_[reg] = parsed.state;
        loaded.registers[reg] = std::move(parsed.state);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    nextSeq_ = std::max(nextSeq_, highest + 1);
    return loaded;
}

ReceiptJournal::Ticket ReceiptJournal::Append(int logicalNb, std::vector<JournalRecord> records) {
    Ticket ticket = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        Queued& q = queue_[logicalNb];
        for (JournalRecord& r : records) {
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

std::uint64_t ReceiptJournal::NextClosingSeq() {
    std::lock_guard<std::mutex> guard(mutex_);
    return nextSeq_++;
}

void ReceiptJournal::WriterLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopped with nothing left
        }
        const bool stopping = stop_;
        std::map<int, Queued> batch;
        batch.swap(queue_);
        lock.unlock();

        bool anyFailed = false;
        std::map<int, std::string> failures;
        std::vector<int> written;
        for (auto& [reg, q] : batch) {
            std::vector<JournalRecord> records(q.records.begin(), q.records.end());
            std::string error;
            if (WriteBatch(reg, records, error)) {
                written.push_back(reg);
                bool closingDone = false;
                for (const JournalRecord& r : records) {
                    ApplyRecord(fileState_[reg], r);
                    closingDone = closingDone || r.kind == 'D';
                }
                if (closingDone) {
                    if (crashHook_) {
                        crashHook_("closing done, not compacted");
                    }
                    Compact(reg);
                }
            } else {
                anyFailed = true;
                failures[reg] = error;
            }
        }

        lock.lock();
        std::vector<int> recovered;
        for (int reg : written) {
            durable_[reg] = batch[reg].lastTicket;
            if (failing_.erase(reg) != 0) {
                recovered.push_back(reg);
            }
        }
        for (const auto& [reg, error] : failures) {
            // Back to the front of the register's queue, in order, to be tried again.
            Queued& q = queue_[reg];
            Queued& failed = batch[reg];
            q.records.insert(q.records.begin(), failed.records.begin(), failed.records.end());
            q.lastTicket = std::max(q.lastTicket, failed.lastTicket);
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
        if (anyFailed) {
            queued_.wait_for(lock, kRetryInterval, [this] { return stop_; });
        }
    }
}

bool ReceiptJournal::WriteBatch(int logicalNb, const std::vector<JournalRecord>& records,
                                std::string& error) {
    const std::string path = PathOf(logicalNb);
    // Opened for each batch and closed after it: a file held open for writing would keep an
    // administrator from remounting the file system read-only, and a replaced file is seen.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
    bool created = false;
    UniqueFd fd(::open(path.c_str(), kFlags));
    if (!fd.Valid() && errno == ENOENT) {
        fd = UniqueFd(::open(path.c_str(), kFlags | O_CREAT, 0666));
        created = fd.Valid();
    }
    if (!fd.Valid()) {
        error = "Cannot open file " + path + ": " + SystemReason(errno);
        return false;
    }
    struct stat before {};
    if (::fstat(fd.Get(), &before) != 0) {
        error = "Cannot write file " + path + ": " + SystemReason(errno);
        fd.Reset();
        return false;
    }
    bool ok = WriteAll(fd.Get(), Encode(records));
    int reason = errno;
    if (ok && crashHook_) {
        crashHook_("journal written, not synced");
    }
    if (ok && ::fdatasync(fd.Get()) != 0) {
        ok = false;
        reason = errno;
    }
    if (!ok) {
        // Leave no half record behind: the records stay queued and go out whole later.
        (void)::ftruncate(fd.Get(), before.st_size);
        fd.Reset();
        error = "Cannot write file " + path + ": " + SystemReason(reason);
        return false;
    }
    if (created) {
        SyncFolderOf(path);
    }
    if (crashHook_) {
        crashHook_("journal synced");
    }
    return true;
}

void ReceiptJournal::Compact(int logicalNb) {
    const std::string path = PathOf(logicalNb);
    const std::string temporary = path + ".new";
    const std::string bytes = Encode(SnapshotRecords(fileState_[logicalNb]));
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    // A compaction that fails leaves the longer file, which says the same: nothing is lost.
    if (!fd.Valid() || !WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0) {
        fd.Reset();
        (void)::unlink(temporary.c_str());
        return;
    }
    fd.Reset();
    if (crashHook_) {
        crashHook_("compaction written, not renamed");
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        (void)::unlink(temporary.c_str());
        return;
    }
    SyncFolderOf(path);
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
