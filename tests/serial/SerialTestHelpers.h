#pragma once

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
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

// A plain file of the test's own in the system's temporary folder, removed when it goes.
class ScratchFile {
public:
    explicit ScratchFile(std::string_view content)
        : path_(std::filesystem::temp_directory_path() /
                ("tallyport-serial-" + std::to_string(std::random_device{}()) + ".txt")) {
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace tallyport::testing
