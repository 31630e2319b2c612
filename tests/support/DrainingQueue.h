#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "serial/BlockSerial.h"

namespace tallyport::test {

// A port's output queue as a real driver shows it, which a pseudo-terminal cannot: the bytes a
// write hands over stay queued and leave one character time apart, after an optional hold (a
// USB adapter's latency before its own FIFO starts sending), or never (a hung transmitter).
// Each open of the port starts with an empty queue, as a real driver's does (the close before
// flushed it); a stuck transmitter stays stuck across opens unless the test says otherwise.
// The test keeps the state and may change it between writes; the probe is installed in the
// port with SetLineStatusProbe. Every member may be called from any thread.
class DrainingQueueState {
public:
    using Clock = std::chrono::steady_clock;

    explicit DrainingQueueState(std::chrono::microseconds characterTime)
        : characterTime_(characterTime) {}

    // The queue starts sending each write's bytes only `hold` after they were handed over.
    void SetHold(std::chrono::microseconds hold) {
        std::lock_guard<std::mutex> guard(mutex_);
        hold_ = hold;
    }
    // A stuck queue keeps what it holds and every byte it is given; unstuck, it sends them.
    void SetStuck(bool stuck) {
        std::lock_guard<std::mutex> guard(mutex_);
        const Clock::time_point now = Clock::now();
        if (stuck && !stuck_) {
            stuckBytes_ = CountAt(now);
        } else if (!stuck && stuck_) {
            sinceEmpty_ = stuckBytes_;
            emptyAt_ = now + characterTime_ * stuckBytes_;
            stuckBytes_ = 0;
        }
        stuck_ = stuck;
    }

    // The port was opened: the queue starts empty.
    void Opened() {
        std::lock_guard<std::mutex> guard(mutex_);
        ++opens_;
        stuckBytes_ = 0;
        sinceEmpty_ = 0;
        emptyAt_ = Clock::now();
    }

    void Queue(int count) {
        std::lock_guard<std::mutex> guard(mutex_);
        const Clock::time_point now = Clock::now();
        ++writes_;
        if (stuck_) {
            stuckBytes_ += count;
            return;
        }
        const int before = CountAt(now);
        sinceEmpty_ = before + count;
        const Clock::time_point sendFrom = std::max(emptyAt_, now + hold_);
        emptyAt_ = sendFrom + characterTime_ * count;
        lastEmptyAt_ = emptyAt_;
    }

    int Count() {
        std::lock_guard<std::mutex> guard(mutex_);
        ++queries_;
        return CountAt(Clock::now());
    }

    // When the bytes of the last write will all have left (stuck queues aside).
    Clock::time_point LastEmptyAt() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return lastEmptyAt_;
    }
    int Writes() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return writes_;
    }
    int Queries() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return queries_;
    }
    int Opens() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return opens_;
    }

private:
    int CountAt(Clock::time_point now) const {
        if (stuck_) {
            return stuckBytes_;
        }
        if (now >= emptyAt_ || characterTime_.count() <= 0) {
            return 0;
        }
        const auto left = (emptyAt_ - now + characterTime_ - Clock::duration(1)) / characterTime_;
        return static_cast<int>(std::min<std::int64_t>(left, sinceEmpty_));
    }

    mutable std::mutex mutex_;
    const std::chrono::microseconds characterTime_;
    std::chrono::microseconds hold_{0};
    bool stuck_ = false;
    int stuckBytes_ = 0;
    int sinceEmpty_ = 0;
    Clock::time_point emptyAt_{};
    Clock::time_point lastEmptyAt_{};
    int writes_ = 0;
    int queries_ = 0;
    int opens_ = 0;
};

// The probe the port asks; it shares the state with the test. No line-error counters.
class DrainingQueue final : public LineStatusProbe {
public:
    explicit DrainingQueue(std::shared_ptr<DrainingQueueState> state) : state_(std::move(state)) {}

    std::optional<int> OutputQueueCount(std::intptr_t) override { return state_->Count(); }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t) override { return std::nullopt; }
    void BytesQueued(std::intptr_t, int count) override { state_->Queue(count); }
    void PortOpened(std::intptr_t) override { state_->Opened(); }

private:
    std::shared_ptr<DrainingQueueState> state_;
};

}  // namespace tallyport::test
