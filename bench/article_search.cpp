// The table part of an article request: the article file's time check, the search by code and
// the reading of the row's columns as the lookup reads them, at several table sizes.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "base/Padding.h"
#include "store/PluHolder.h"

namespace {

using namespace tallyport;

struct LoadedArticles {
    std::string folder;
    std::unique_ptr<CsvTable> table;
    std::unique_ptr<TPluH> holder;

    ~LoadedArticles() {
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }
};

// One loaded table per size, kept for the whole run.
LoadedArticles& Articles(std::size_t count) {
    static std::map<std::size_t, LoadedArticles> loaded;
    auto found = loaded.find(count);
    if (found != loaded.end()) {
        return found->second;
    }
    LoadedArticles& articles = loaded[count];
    articles.folder = std::filesystem::temp_directory_path() / "tallyport-bench-XXXXXX";
    if (::mkdtemp(articles.folder.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    const std::string path = articles.folder + "/PLU.txt";
    {
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 1; i <= count; ++i) {
            out << PadLeft(std::to_string(i), 13, '0') << ",01,1," << (i % 1000) << "." << (i % 100)
                << ",3,Articol " << i << "\r\n";
        }
    }
    articles.table = MakeArticleTable();
    articles.holder = std::make_unique<TPluH>(path, *articles.table);
    return articles;
}

void BM_ArticleSearch(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    LoadedArticles& articles = Articles(count);
    CsvTable& table = *articles.table;
    std::mt19937_64 random(7);
    std::uniform_int_distribution<std::size_t> pick(1, count);
    for (auto _ : state) {
        articles.holder->ReloadIfChanged();
        bool found = table.Locate(kArtCodPLU, PadLeft(std::to_string(pick(random)), 13, '0'));
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(table.AsText(kArtName));
        benchmark::DoNotOptimize(table.AsText(kArtPrice, '.'));
        benchmark::DoNotOptimize(table.AsText(kArtComma));
        benchmark::DoNotOptimize(table.AsText(kArtDept));
        benchmark::DoNotOptimize(table.AsText(kArtVATGroup));
    }
}
BENCHMARK(BM_ArticleSearch)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
