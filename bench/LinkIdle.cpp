// Idle cost of the link: N silent registers on ptys, each served by its own worker, for a given
// time. Prints the process CPU time, the simulators' share and what is left for the workers.
// "parallel" serves each line on its own (LinkOptions::ParallelLines), else all in turn.
//
//   tallyport-bench-LinkIdle [registers=4] [seconds=10] [serial|parallel]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "link/SerialThread.h"
#include "simulator/EcrSimulator.h"
#include "support/SilentNotices.h"

namespace {

using namespace tallyport;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int registers = argc > 1 ? std::atoi(argv[1]) : 4;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    LinkOptions options;
    options.ParallelLines = argc > 3 && std::string_view(argv[3]) == "parallel";
    test::SilentNotices notices;

    std::vector<std::unique_ptr<sim::EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int n = 1; n <= registers; ++n) {
        sims.push_back(std::make_unique<sim::EcrSimulator>(n));
        workers.push_back(
            std::make_unique<TSerialThread>(ThreadPriority::Lowest, options, notices));
        workers.back()->Link().CommPort = sims.back()->PortName();
        workers.back()->Link().LogicalNb = n;
        workers.back()->Link().TranRate = sims.back()->Line().baud;
        if (!workers.back()->StartLink()) {
            std::fprintf(stderr, "cannot open %s: %s\n", sims.back()->PortName().c_str(),
                         workers.back()->Link().Port.LastErrorText().c_str());
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past start-up

    double simBefore = 0;
    std::size_t pollsBefore = 0;
    for (auto& s : sims) {
        simBefore += std::chrono::duration<double>(s->CpuTime()).count();
        pollsBefore += s->PollCount();
    }
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    double simCpu = -simBefore;
    std::size_t polls = 0;
    for (auto& s : sims) {
        simCpu += std::chrono::duration<double>(s->CpuTime()).count();
        polls += s->PollCount();
    }
    polls -= pollsBefore;
    for (auto& w : workers) {
        w->StopLink();
    }

    std::printf("%s lines, %d silent registers, %d s: %zu polls (%.1f per register per second)\n",
                options.ParallelLines ? "parallel" : "serial", registers, seconds, polls,
                static_cast<double>(polls) / registers / seconds);
    std::printf("process CPU %.3f s (%.2f%% of one core)\n", cpu, 100 * cpu / seconds);
    std::printf("simulators  %.3f s\n", simCpu);
    std::printf("workers     %.3f s (%.3f%% of one core, %.1f us per poll cycle)\n", cpu - simCpu,
                100 * (cpu - simCpu) / seconds, polls ? 1e6 * (cpu - simCpu) / polls : 0.0);
    return 0;
}
