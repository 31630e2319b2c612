// Cost of building and taking apart link frames.
#include <benchmark/benchmark.h>

#include <string>

#include "link/LinkFrame.h"

namespace {

using namespace tallyport;

const std::string kRequest =
    "\x0A"
    "DA4700123456;1;1;5941234567890;0000001.000;12\x0D\x12\x34";

void BM_LinkCrc16(benchmark::State& state) {
    const std::string text(static_cast<std::size_t>(state.range(0)), 'A');
    for (auto _ : state) {
        benchmark::DoNotOptimize(LinkCrc16(text));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LinkCrc16)->Arg(64)->Arg(4096);

void BM_ReplyFrame(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReplyFrame("Paine alba feliata 500g;000000012.50;1;1;0"));
    }
}
BENCHMARK(BM_ReplyFrame);

void BM_AcceptAndSplit(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(AcceptFrame(kRequest));
        benchmark::DoNotOptimize(SplitFrame(kRequest));
    }
}
BENCHMARK(BM_AcceptAndSplit);

void BM_PollMessage(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(PollMessage(12));
    }
}
BENCHMARK(BM_PollMessage);

}  // namespace

BENCHMARK_MAIN();
