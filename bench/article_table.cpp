// Loading the article file into the article table and searching it by code.
//
//   tallyport-bench-article_table [--articles=N] [--seed=S] [--file=PATH] [--summary]
//                                 [--load-only] [benchmark options]
//
// Writes a reproducible article file of N lines (default 1,000,000, about 50 MB: 13-digit codes
// mixing zero-padded PLU codes and EAN-13 barcodes, CR LF line ends) unless it exists, reads it
// once so that it is in the page cache, measures the memory the loaded table takes (peak
// resident size after loading minus the peak before) and runs the benchmarks: the holder's
// construction (the whole load), the exact search of random codes that exist, the search plus
// the reads of an article request, the search of codes that do not exist, and the lookup's own
// path through a published article table (the search and the article copied out as texts).
// --summary prints the load time, the memory and the median of individually timed searches,
// without the benchmark library; --load-only stops after the load (to compare the peak
// resident size from outside, for example with /usr/bin/time, against --articles=0).
// A small N (for example 20000) runs in a few seconds.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "store/PluHolder.h"

namespace tallyport {
namespace {

struct Options {
    std::size_t articles = 1'000'000;
    std::uint64_t seed = 20261207;
    std::string file;
    bool summary = false;
    bool loadOnly = false;
};

Options g_options;
std::unique_ptr<CsvTable> g_table;  // the loaded table the searches use
std::vector<std::string> g_hits;    // codes that exist, in random order
std::vector<std::string> g_misses;  // codes that do not exist

// Peak resident size of this process so far, in bytes (VmHWM).
std::size_t PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
        }
    }
    return 0;
}

char Ean13CheckDigit(const char* twelve) {
    int sum = 0;
    for (int i = 0; i < 12; ++i) {
        sum += (twelve[i] - '0') * (i % 2 == 0 ? 1 : 3);
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// Codes are unique by construction: PLU codes count up behind "000000", EAN-13 codes behind
// "59" run through a permutation of ten-digit numbers (a multiplier prime to ten).
class ArticleGenerator {
public:
    explicit ArticleGenerator(std::uint64_t seed) : random_(seed) {}

    std::string NextLine() {
        char code[14];
        if (random_() % 3 == 0) {
            std::snprintf(code, sizeof code, "%013llu", static_cast<unsigned long long>(++plu_));
        } else {
            std::uint64_t body = (ean_++ * 3'967'881'731ULL + 1'234'567'891ULL) % 10'000'000'000ULL;
            std::snprintf(code, sizeof code, "59%010llu", static_cast<unsigned long long>(body));
            code[12] = Ean13CheckDigit(code);
            code[13] = '\0';
        }
        static const char* const kWords[] = {
            "APA",  "MINERALA", "PAINE",  "LAPTE", "CAFEA",   "ZAHAR",     "ULEI",  "FAINA",
            "OREZ", "BISCUITI", "SUC",    "BERE",  "VIN",     "CIOCOLATA", "UNT",   "BRANZA",
            "OUA",  "MERE",     "BANANE", "ROSII", "CARTOFI", "DETERGENT", "SAPUN", "HARTIE",
            "0.5L", "1L",       "2L",     "500G",  "1KG",     "250G",      "BIO",   "PROMO"};
        std::string name;
        std::size_t words = 2 + random_() % 4;
        for (std::size_t w = 0; w < words; ++w) {
            if (w > 0) {
                name.push_back(' ');
            }
            name += kWords[random_() % (sizeof kWords / sizeof kWords[0])];
        }
        name.resize(std::min<std::size_t>(name.size(), 40));
        std::uint64_t cents = 10 + random_() % 99'990;
        char price[32];
        if (cents % 100 == 0) {
            std::snprintf(price, sizeof price, "%llu",
                          static_cast<unsigned long long>(cents / 100));
        } else if (cents % 10 == 0) {
            std::snprintf(price, sizeof price, "%llu.%llu",
                          static_cast<unsigned long long>(cents / 100),
                          static_cast<unsigned long long>(cents % 100 / 10));
        } else {
            std::snprintf(price, sizeof price, "%llu.%02llu",
                          static_cast<unsigned long long>(cents / 100),
                          static_cast<unsigned long long>(cents % 100));
        }
        std::string line = code;
        line += "," + std::to_string(1 + random_() % 20) + "," + std::to_string(1 + random_() % 5) +
                "," + price + "," + std::to_string(random_() % 4) + "," + name + "\r\n";
        return line;
    }

private:
    std::mt19937_64 random_;
    std::uint64_t plu_ = 0;
    std::uint64_t ean_ = 0;
};

void WriteArticleFile(const std::string& path, std::size_t articles, std::uint64_t seed) {
    std::string partial = path + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        ArticleGenerator generator(seed);
        std::string buffer;
        for (std::size_t i = 0; i < articles; ++i) {
            buffer += generator.NextLine();
            if (buffer.size() > (1 << 20)) {
                out << buffer;
                buffer.clear();
            }
        }
        out << buffer;
        if (!out) {
            throw std::runtime_error("cannot write " + partial);
        }
    }
    std::filesystem::rename(partial, path);
}

void ReadIntoPageCache(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    }
}

void PrepareSearchKeys(CsvTable& table) {
    std::vector<std::string> codes;
    codes.reserve(table.RowCount());
    for (table.First(); !table.Eof(); table.Next()) {
        codes.push_back(table.AsText(kArtCodPLU));
    }
    std::mt19937_64 random(g_options.seed ^ 0x5EA4C4);
    g_hits.resize(1'000'000);
    for (std::string& key : g_hits) {
        key = codes[random() % codes.size()];
    }
    g_misses.resize(1'000'000);
    for (std::string& key : g_misses) {
        char code[14];
        // "3" never begins a generated code.
        std::snprintf(code, sizeof code, "3%012llu",
                      static_cast<unsigned long long>(random() % 1'000'000'000'000ULL));
        key = code;
    }
}

void BM_ConstructHolder(benchmark::State& state) {
    std::optional<TPluH> holder;
    for (auto _ : state) {
        holder.emplace(g_options.file);
        benchmark::DoNotOptimize(holder->Table()->Count());
        state.PauseTiming();
        holder.reset();
        state.ResumeTiming();
    }
    state.counters["articles"] = static_cast<double>(g_options.articles);
}

// The lookup's own path: the article found in a published table and copied out as texts.
void BM_FindAsTheLookupDoes(benchmark::State& state) {
    static const ArticleTable articles(g_options.file);
    std::size_t i = 0;
    for (auto _ : state) {
        std::optional<ArticleRecord> found = articles.Find(g_hits[i]);
        benchmark::DoNotOptimize(found->name.data());
        if (++i == g_hits.size()) {
            i = 0;
        }
    }
}

void BM_LocateHit(benchmark::State& state) {
    CsvTable& table = *g_table;
    std::size_t i = 0;
    for (auto _ : state) {
        bool found = table.Locate(kArtCodPLU, g_hits[i]);
        benchmark::DoNotOptimize(found);
        if (++i == g_hits.size()) {
            i = 0;
        }
    }
}

void BM_LocateAndReadAsTheLookupDoes(benchmark::State& state) {
    CsvTable& table = *g_table;
    std::size_t i = 0;
    for (auto _ : state) {
        table.Locate(kArtCodPLU, g_hits[i]);
        std::string name = table.AsText(kArtName);
        std::string price = table.AsText(kArtPrice, '.');
        std::string comma = table.AsText(kArtComma);
        std::string dept = table.AsText(kArtDept);
        std::string vat = table.AsText(kArtVATGroup);
        benchmark::DoNotOptimize(name.data());
        benchmark::DoNotOptimize(price.data());
        benchmark::DoNotOptimize(comma.data());
        benchmark::DoNotOptimize(dept.data());
        benchmark::DoNotOptimize(vat.data());
        if (++i == g_hits.size()) {
            i = 0;
        }
    }
}

void BM_LocateMiss(benchmark::State& state) {
    CsvTable& table = *g_table;
    std::size_t i = 0;
    for (auto _ : state) {
        bool found = table.Locate(kArtCodPLU, g_misses[i]);
        benchmark::DoNotOptimize(found);
        if (++i == g_misses.size()) {
            i = 0;
        }
    }
}

BENCHMARK(BM_ConstructHolder)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
// One repetition is one pass over the 1,000,000 random hits.
BENCHMARK(BM_LocateHit)->Iterations(1'000'000)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_LocateAndReadAsTheLookupDoes)
    ->Iterations(1'000'000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_LocateMiss)->Iterations(1'000'000)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FindAsTheLookupDoes)
    ->Iterations(1'000'000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The median of 1,000,000 searches timed one by one, and the median of the empty timing.
void PrintSearchMedians(CsvTable& table) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::int64_t> search(g_hits.size());
    std::vector<std::int64_t> empty(g_hits.size());
    for (std::size_t i = 0; i < g_hits.size(); ++i) {
        auto a = Clock::now();
        bool found = table.Locate(kArtCodPLU, g_hits[i]);
        auto b = Clock::now();
        benchmark::DoNotOptimize(found);
        search[i] = std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count();
        auto c = Clock::now();
        auto d = Clock::now();
        empty[i] = std::chrono::duration_cast<std::chrono::nanoseconds>(d - c).count();
    }
    auto median = [](std::vector<std::int64_t>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    std::printf(
        "search by code, %zu random hits timed one by one: median %lld ns "
        "(the clock alone: median %lld ns)\n",
        g_hits.size(), static_cast<long long>(median(search)),
        static_cast<long long>(median(empty)));
}

int Main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--articles=", 0) == 0) {
            g_options.articles = std::stoull(arg.substr(11));
        } else if (arg.rfind("--seed=", 0) == 0) {
            g_options.seed = std::stoull(arg.substr(7));
        } else if (arg.rfind("--file=", 0) == 0) {
            g_options.file = arg.substr(7);
        } else if (arg == "--summary") {
            g_options.summary = true;
        } else if (arg == "--load-only") {
            g_options.loadOnly = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    const std::size_t baseline = PeakResidentBytes();
    if (g_options.file.empty()) {
        g_options.file = (std::filesystem::temp_directory_path() /
                          ("tallyport-articles-" + std::to_string(g_options.articles) + "-" +
                           std::to_string(g_options.seed) + ".txt"))
                             .string();
    }
    if (!std::filesystem::exists(g_options.file)) {
        WriteArticleFile(g_options.file, g_options.articles, g_options.seed);
    }
    ReadIntoPageCache(g_options.file);

    g_table = MakeArticleTable();
    auto start = std::chrono::steady_clock::now();
    LoadTableFromFile(*g_table, g_options.file);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t loaded = PeakResidentBytes();
    const double perArticle = static_cast<double>(loaded - baseline) /
                              static_cast<double>(std::max<std::size_t>(g_table->RowCount(), 1));
    std::printf("file %s: %zu bytes, %zu articles\n", g_options.file.c_str(),
                static_cast<std::size_t>(std::filesystem::file_size(g_options.file)),
                g_table->RowCount());
    std::printf("first load %.3f s; memory: peak resident %.1f MB before, %.1f MB after loading",
                seconds, static_cast<double>(baseline) / 1e6, static_cast<double>(loaded) / 1e6);
    if (g_table->RowCount() > 0) {
        std::printf(", %.1f bytes per article", perArticle);
    }
    std::printf("\n");
    std::fflush(stdout);
    if (g_options.loadOnly || g_table->RowCount() == 0) {
        return 0;
    }

    PrepareSearchKeys(*g_table);
    if (g_options.summary) {
        PrintSearchMedians(*g_table);
        return 0;
    }
    int benchArgc = static_cast<int>(rest.size());
    benchmark::Initialize(&benchArgc, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace
}  // namespace tallyport

int main(int argc, char** argv) {
    return tallyport::Main(argc, argv);
}
