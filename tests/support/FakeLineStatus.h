#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>

#include "serial/BlockSerial.h"

namespace tallyport::test {

// What the fake driver reports; the test changes it between port operations. The output queue
// and the query count may be changed and read from any thread while a worker uses the port;
// the other fields are set while no other thread uses the port.
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
    std::optional<LineErrorCounters> LineErrors(std::intptr_t) override { return state_->counters; }

private:
    std::shared_ptr<FakeLineState> state_;
};

}  // namespace tallyport::test
