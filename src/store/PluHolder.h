#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "store/ArticleTable.h"
#include "store/FileAccess.h"

namespace tallyport {

// How the holder's loader watches the article file.
struct ArticleReloadTimes {
    // The loader looks at the file this often, and at once when a request asks.
    std::chrono::milliseconds check{500};
    // A changed file is read only once its stamp has held this long, and read again when it
    // changed while it was being read: a file the back office is still writing in place is
    // not taken half-written.
    std::chrono::milliseconds settle{500};
    // A file that failed to load is read again after this, unless it changes first (a writer
    // that held the file locked, a share that was away).
    std::chrono::milliseconds retry{5000};
};

// The article table holder: one per process, shared by all workers. It loads the article file
// at construction and keeps a table of the file as it was at its last successful load; a loader
// thread of its own reads a newer file into a new table and swaps it in in one step.
//
// Who loads: only the loader thread, after construction. It starts with the first request (a
// holder that serves none has no thread, and a process may fork before that) and looks at the
// file's stamp (see FileStamp: another file, size, modification or status-change time) every
// `check`, and at once when a request calls ReloadIfChanged. A changed file is read once its stamp
// has held for `settle`; when the stamp changed while the file was read, that table is dropped and
// the file read again once it holds still. A load that fails leaves the table in hand as it was.
//
// What a request sees meanwhile: the table in hand, whole, until the new one is complete. A
// request never waits for a load: the registers' turns go on while a large file or a file on a
// slow share is read, and a request answered from the old table is answered at once, where a
// request that waited would find its register's patience spent. The new prices reach the
// requests that come once the load is done (the settle time plus the load after the rewrite).
// One exception keeps the failure visible where the back office looks for it: while the file as
// it stands failed to load, ReloadIfChanged throws that load's StoreError, so every article
// request ends unanswered until the file is corrected (or removed: then the table in hand
// answers again); the loader tries the same file again every `retry`.
//
// Threads: every public member may be called from any thread, under no other lock (the workers
// of parallel lines look up side by side). A table taken with Table() is immutable and stays
// valid for as long as the caller holds it; the holder replaces its own reference, never the
// table. Destruction stops the loader (waiting for a load in progress to end) and must come
// after the last call of the other members.
class TPluH {
public:
    // Loads the file; throws StoreError with LoadTableFromFile's messages, and then there is
    // no holder and no loader. `afterEachRead` runs on the loader's thread after each of its
    // reads of the file, before it looks at the stamp again (a seam for tests; none in the
    // program).
    explicit TPluH(std::string fileName, ArticleReloadTimes times = {},
                   std::function<void()> afterEachRead = {});
    ~TPluH();
    TPluH(const TPluH&) = delete;
    TPluH& operator=(const TPluH&) = delete;

    // Called at the start of every article request: asks the loader to look at the file now
    // (starting it the first time), and never waits for it. Throws StoreError (the load's
    // message and reason) while the file as it stands failed to load, and std::system_error
    // when the loader cannot be started (the next request tries again).
    void ReloadIfChanged();
    // The table to answer from.
    std::shared_ptr<const ArticleTable> Table() const;

    const std::string& FileName() const { return fileName_; }
    // Modification time of the file the table in hand was read from, in nanoseconds since the
    // epoch (taken before the read).
    std::int64_t FileTime() const;

    // Waits until the loader has dealt with the file as it stands: the table in hand, or the
    // failure, is of the file's current stamp, or there is no file. False when `limit` passed
    // first. For callers that must see a rewrite through (tests, tools, benchmarks).
    bool WaitUntilSettled(std::chrono::milliseconds limit);

private:
    using Clock = std::chrono::steady_clock;

    struct Failure {
        detail::FileStamp stamp;
        std::string message;
        int reason = 0;
        Clock::time_point retryAt;
    };

    // Starts the loader where it does not run yet and wakes it. Under mutex_.
    void Nudge();
    void Run();
    void LookAtFile();
    void Load(const detail::FileStamp& stamp);
    // Whether a file with the stamp `seen` is to be read; forgets a failure of another version.
    bool WantsLoad(const std::optional<detail::FileStamp>& seen);
    bool Settled(const std::optional<detail::FileStamp>& seen) const;
    // False when the holder is being destroyed.
    bool SleepUnlessStopped(std::chrono::milliseconds time);

    const std::string fileName_;
    const ArticleReloadTimes times_;
    const std::function<void()> afterEachRead_;

    // Guards the members below it, up to the loader's own.
    mutable std::mutex mutex_;
    std::condition_variable wake_;     // the loader waits here for a request or the stop
    std::condition_variable settled_;  // WaitUntilSettled waits here for the loader
    std::shared_ptr<const ArticleTable> table_;
    std::optional<detail::FileStamp> stamp_;  // of the file table_ was read from
    std::optional<Failure> failure_;          // the last load of the file as it stands failed
    bool nudged_ = false;
    bool stop_ = false;

    // The loader's own: the table it replaced, let go once the requests that took it before the
    // swap are long done, so that its memory is freed on the loader's thread and not in a
    // register's turn.
    std::shared_ptr<const ArticleTable> retired_;
    Clock::time_point retiredAt_{};
    std::thread loader_;  // under mutex_: made by the first Nudge, taken by the destructor
};

}  // namespace tallyport
