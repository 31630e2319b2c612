#pragma once

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace tallyport::testing {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Polls `condition` until it holds or `within` has passed; gives its last value.
inline bool WaitUntil(const std::function<bool()>& condition, milliseconds within) {
    const auto deadline = Clock::now() + within;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// CPU time the calling thread has used, in milliseconds.
inline double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Makes `dir` the current folder for a scope, for names that are opened relative to it.
class CurrentDirGuard {
public:
    explicit CurrentDirGuard(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~CurrentDirGuard() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    std::filesystem::path previous_;
};

}  // namespace tallyport::testing
