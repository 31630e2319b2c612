#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "serial/BlockSerial.h"

namespace tallyport::test {

// The order in which the program wrote to several ports, as the ports saw it: each write is
// noted by the thread that made it, right after its bytes were handed to the driver. Unlike
// arrival times taken by the other side's threads, this order is exact. Shared by the probes
// of all ports of a test; any thread.
class WriteLog {
public:
    struct Entry {
        int line = 0;  // the number the probe was given
        int count = 0;
    };

    void Note(int line, int count) {
        std::lock_guard<std::mutex> guard(mutex_);
        entries_.push_back(Entry{line, count});
    }
    std::vector<Entry> Entries() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// A driver like a pseudo-terminal's (empty output queue, no error counters) that notes every
// write in the shared log under its line's number.
class LoggingDriver final : public LineStatusProbe {
public:
    LoggingDriver(std::shared_ptr<WriteLog> log, int line) : log_(std::move(log)), line_(line) {}

    std::optional<int> OutputQueueCount(std::intptr_t) override { return 0; }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t) override { return std::nullopt; }
    void BytesQueued(std::intptr_t, int count) override { log_->Note(line_, count); }

private:
    std::shared_ptr<WriteLog> log_;
    int line_;
};

}  // namespace tallyport::test
