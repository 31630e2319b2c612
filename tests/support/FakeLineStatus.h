#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "serial/BlockSerial.h"

namespace tallyport::test {

// The receive-line conditions a driver counts.
enum class LineErrorKind { Framing, Overrun, BufferOverrun, Parity };

// What the fake driver reports; the test changes it between port operations. The output queue
// and the query count may be changed and read from any thread while a worker uses the port;
// `counters` and the query settings are set while no other thread uses the port. Line errors
// at chosen moments of a running worker are scripted with ErrorWhen and ErrorDuringWrite, from
// any thread.
struct FakeLineState {
    // Bytes in the output queue.
    std::atomic<int> outputQueue{0};
    // When set, the output-queue query fails with `queryError`.
    bool queryFails = false;
    int queryError = ENOTTY;
    // While set and in the future, the output queue reports `outputQueue` bytes; after it, 0.
    std::optional<std::chrono::steady_clock::time_point> busyUntil;
    // The driver's receive-error counters; nullopt for a driver that keeps none.
    std::optional<LineErrorCounters> counters = LineErrorCounters{};
    std::atomic<int> outputQueries{0};

    // The driver counts one `kind` error at the first query of its counters at which `when`
    // holds (the port asks after every read and write), once.
    void ErrorWhen(LineErrorKind kind, std::function<bool()> when) {
        std::lock_guard<std::mutex> guard(scriptMutex_);
        script_.push_back(Scripted{kind, std::move(when), 0, false});
    }
    // The driver counts one `kind` error while the write that hands over `bytes` bytes is on
    // the line: the port sees it when it looks after that write (the next write of that size
    // if none is under way), once.
    void ErrorDuringWrite(LineErrorKind kind, int bytes) {
        std::lock_guard<std::mutex> guard(scriptMutex_);
        script_.push_back(Scripted{kind, {}, bytes, false});
    }
    // Scripted errors the driver has counted so far.
    int ScriptedErrorsCounted() const {
        std::lock_guard<std::mutex> guard(scriptMutex_);
        return counted_;
    }

    // The counters as the driver reports them now, with every scripted error that is due.
    std::optional<LineErrorCounters> Query() {
        std::lock_guard<std::mutex> guard(scriptMutex_);
        if (!counters) {
            return std::nullopt;
        }
        for (auto it = script_.begin(); it != script_.end();) {
            const bool due = it->whileWriting > 0 ? it->armed : (it->when && it->when());
            if (!due) {
                ++it;
                continue;
            }
            Count(it->kind);
            it = script_.erase(it);
        }
        return counters;
    }
    // A write handed `bytes` bytes to the driver.
    void Written(int bytes) {
        std::lock_guard<std::mutex> guard(scriptMutex_);
        for (Scripted& s : script_) {
            if (s.whileWriting == bytes) {
                s.armed = true;
                return;
            }
        }
    }

private:
    struct Scripted {
        LineErrorKind kind;
        std::function<bool()> when;
        int whileWriting;  // > 0: the error of that write
        bool armed;
    };
    void Count(LineErrorKind kind) {
        ++counted_;
        switch (kind) {
            case LineErrorKind::Framing:
                ++counters->frame;
                break;
            case LineErrorKind::Overrun:
                ++counters->overrun;
                break;
            case LineErrorKind::BufferOverrun:
                ++counters->bufferOverrun;
                break;
            case LineErrorKind::Parity:
                ++counters->parity;
                break;
        }
    }

    mutable std::mutex scriptMutex_;
    std::vector<Scripted> script_;
    int counted_ = 0;
};

// Stands in for the terminal driver's output-queue count and error counters, which a
// pseudo-terminal does not have.
class FakeLineStatus final : public LineStatusProbe {
public:
    explicit FakeLineStatus(std::shared_ptr<FakeLineState> state) : state_(std::move(state)) {}

    std::optional<int> OutputQueueCount(std::intptr_t) override {
        ++state_->outputQueries;
        if (state_->queryFails) {
            errno = state_->queryError;
            return std::nullopt;
        }
        if (state_->busyUntil && std::chrono::steady_clock::now() >= *state_->busyUntil)
            return 0;
        return state_->outputQueue.load();
    }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t) override { return state_->Query(); }
    void BytesQueued(std::intptr_t, int count) override { state_->Written(count); }

private:
    std::shared_ptr<FakeLineState> state_;
};

}  // namespace tallyport::test
