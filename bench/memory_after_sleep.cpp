// How long a few random reads from memory take right after the thread has slept, on this
// machine, with no project code involved. It tells the platform's own part of the tail of the
// request latencies: on a virtual machine the first memory accesses after a sleep can wait for
// the host. Usage: tallyport-bench-memory_after_sleep [megabytes=100] [sleep-us=1000] [reads=20000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int sleepMicros = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int reads = argc > 3 ? std::atoi(argv[3]) : 20000;
    const std::size_t size = std::max<std::size_t>(megabytes, 1) << 20;
    std::vector<char> memory(size, 1);
    std::mt19937_64 random(1);
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(reads));
    volatile long sink = 0;
    for (int i = 0; i < reads; ++i) {
        const std::size_t k = random() % size;
        const auto start = std::chrono::steady_clock::now();
        // Three independent random reads, about what one table search and row read touch.
        sink = sink + memory[k] + memory[(k * 7919) % size] + memory[(k * 104729) % size];
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        if (sleepMicros > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(sleepMicros));
        }
    }
    std::sort(micros.begin(), micros.end());
    std::printf(
        "%zu MB, sleep %d us between reads: median %.2f us  p99 %.2f us  p99.9 %.2f us  "
        "max %.1f us\n",
        megabytes, sleepMicros, micros[micros.size() / 2], micros[micros.size() * 99 / 100],
        micros[micros.size() * 999 / 1000], micros.back());
    return 0;
}
