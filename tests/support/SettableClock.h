#pragma once

#include <mutex>

#include "base/LocalClock.h"

namespace tallyport::test {

// A clock that tells the time it was given until it is set to another. Owned by the test; Now
// and Set may be called from any thread.
class SettableClock final : public LocalClock {
public:
    explicit SettableClock(const LocalTime& time) : time_(time) {}

    LocalTime Now() const override {
        std::lock_guard<std::mutex> guard(mutex_);
        return time_;
    }

    void Set(const LocalTime& time) {
        std::lock_guard<std::mutex> guard(mutex_);
        time_ = time;
    }

private:
    mutable std::mutex mutex_;
    LocalTime time_;
};

}  // namespace tallyport::test
