#include "store/PluHolder.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "base/ThreadPriority.h"
#include "store/StoreError.h"

namespace tallyport {

TPluH::TPluH(std::string fileName, ArticleReloadTimes times, std::function<void()> afterEachRead)
    : fileName_(std::move(fileName)), times_(times), afterEachRead_(std::move(afterEachRead)) {
    // The stamp taken before the read: a file rewritten while it is read differs from it, and
    // the loader reads it again.
    stamp_ = detail::StampOf(fileName_);
    table_ = std::make_shared<const ArticleTable>(fileName_);
}

TPluH::~TPluH() {
    std::thread loader;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        loader = std::move(loader_);
    }
    wake_.notify_all();
    if (loader.joinable()) {
        loader.join();
    }
}

void TPluH::Nudge() {
    if (!loader_.joinable() && !stop_) {
        loader_ = std::thread([this] { Run(); });
    }
    if (!nudged_) {
        nudged_ = true;
        wake_.notify_one();
    }
}

void TPluH::ReloadIfChanged() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_) {
        throw StoreError(failure_->message, failure_->reason);
    }
    Nudge();
}

std::shared_ptr<const ArticleTable> TPluH::Table() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return table_;
}

std::int64_t TPluH::FileTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamp_ ? stamp_->modified : 0;
}

bool TPluH::WaitUntilSettled(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const std::optional<detail::FileStamp> seen = detail::StampOf(fileName_);
        std::unique_lock<std::mutex> lock(mutex_);
        if (Settled(seen)) {
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        Nudge();
        // The file may change again meanwhile: look at it again at least every check.
        settled_.wait_for(lock, std::min<Clock::duration>(deadline - now, times_.check));
    }
}

bool TPluH::Settled(const std::optional<detail::FileStamp>& seen) const {
    return !seen || seen == stamp_ || (failure_ && failure_->stamp == *seen);
}

void TPluH::Run() {
    // A load takes a processor for a while: it gives way to the workers as they give way to
    // the user interface.
    LowerThisThreadsPriority();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        wake_.wait_for(lock, times_.check, [this] { return stop_ || nudged_; });
        if (stop_) {
            break;
        }
        nudged_ = false;
        lock.unlock();
        if (retired_ && Clock::now() - retiredAt_ >= times_.check) {
            retired_.reset();
        }
        try {
            LookAtFile();
        } catch (...) {
            // Out of memory or the like: the table in hand stays, the next look tries again.
        }
        lock.lock();
    }
}

bool TPluH::WantsLoad(const std::optional<detail::FileStamp>& seen) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!seen || seen == stamp_) {
        // No file (deleted while running: the table in hand answers) or the one loaded.
        failure_.reset();
        settled_.notify_all();
        return false;
    }
    if (failure_ && failure_->stamp == *seen) {
        return Clock::now() >= failure_->retryAt;
    }
    failure_.reset();  // another version than the one that failed: not known to be bad
    return true;
}

void TPluH::LookAtFile() {
    std::optional<detail::FileStamp> seen = detail::StampOf(fileName_);
    if (!WantsLoad(seen)) {
        return;
    }
    for (;;) {
        if (!SleepUnlessStopped(times_.settle)) {
            return;
        }
        std::optional<detail::FileStamp> again = detail::StampOf(fileName_);
        if (again == seen) {
            break;
        }
        seen = again;
        if (!WantsLoad(seen)) {
            return;
        }
    }
    Load(*seen);
}

void TPluH::Load(const detail::FileStamp& stamp) {
    std::shared_ptr<const ArticleTable> fresh;
    Failure failure{stamp, {}, 0, {}};
    try {
        fresh = std::make_shared<const ArticleTable>(fileName_);
    } catch (const StoreError& e) {
        failure.message = e.what();
        failure.reason = e.Reason();
    } catch (const std::exception& e) {
        failure.message = e.what();
    }
    if (afterEachRead_) {
        afterEachRead_();
    }
    const bool rewritten = detail::StampOf(fileName_) != stamp;
    std::shared_ptr<const ArticleTable> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rewritten) {
            // Rewritten while it was read: neither the table nor the failure is the file's.
            // Look again at once; the file is read again once it holds still.
            nudged_ = true;
            return;
        }
        if (fresh) {
            replaced = std::exchange(table_, std::move(fresh));
            stamp_ = stamp;
            failure_.reset();
        } else {
            failure.retryAt = Clock::now() + times_.retry;
            failure_ = std::move(failure);
        }
        settled_.notify_all();
    }
    if (replaced) {
        retired_ = std::move(replaced);
        retiredAt_ = Clock::now();
    }
}

bool TPluH::SleepUnlessStopped(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, time, [this] { return stop_; });
}

}  // namespace tallyport
