#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "TableTestSupport.h"
#include "store/PluHolder.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;
using test::WriteFile;
using testing::ErrorOf;

constexpr std::int64_t kSecond = 1'000'000'000;
const std::int64_t kStart = std::int64_t{1'700'000'000} * kSecond + 123'456'789;

// A loader that looks often and waits little for the file to hold still.
constexpr ArticleReloadTimes kQuick{.check = 10ms, .settle = 20ms, .retry = 100ms};

void SetModificationTime(const std::string& path, std::int64_t nanoseconds) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = nanoseconds / kSecond;
    times[0].tv_nsec = times[1].tv_nsec = nanoseconds % kSecond;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Writes the article file and gives it the modification time `nanoseconds`.
void WriteArticles(const std::string& path, const std::string& content, std::int64_t nanoseconds) {
    WriteFile(path, content);
    SetModificationTime(path, nanoseconds);
}

std::string PriceIn(const ArticleTable& table, const std::string& code) {
    std::optional<ArticleRecord> article = table.Find(code);
    return article ? article->price : "not found";
}

std::string PriceOf(const TPluH& holder, const std::string& code) {
    return PriceIn(*holder.Table(), code);
}

// Counts the loader's reads of the file and runs a step of the test after each, on the
// loader's thread. Set `step` before the holder is made (its thread reads it).
struct ReadProbe {
    std::atomic<int> reads{0};
    std::function<void(TPluH&, int)> step;  // given the holder and the read's number, from 1
    std::atomic<TPluH*> holder{nullptr};

    std::function<void()> Hook() {
        return [this] {
            const int n = ++reads;
            if (step) {
                step(*holder.load(), n);
            }
        };
    }
};

class ArticleHolder : public ::testing::Test {
protected:
    TempFolder dir;
    std::string file = dir.File("PLU.txt");
    ReadProbe probe;

    std::unique_ptr<TPluH> MakeHolder(ArticleReloadTimes times = kQuick) {
        auto holder = std::make_unique<TPluH>(file, times, probe.Hook());
        probe.holder = holder.get();
        return holder;
    }
};

TEST_F(ArticleHolder, LoadsAtConstructionAndAnswersTheLookupReads) {
    WriteArticles(file,
                  "0000000000123,01,1,12.5,2,APA MINERALA 0.5L\r\n"
                  "5941234567890,12,2,3,3,PAINE FELIATA\r\n",
                  kStart);
    auto holder = MakeHolder();
    EXPECT_EQ(holder->FileName(), file);
    EXPECT_EQ(holder->FileTime(), kStart);
    const auto table = holder->Table();
    EXPECT_EQ(table->Count(), 2u);
    std::optional<ArticleRecord> apa = table->Find("0000000000123");
    ASSERT_TRUE(apa);
    EXPECT_EQ(apa->code, "0000000000123");
    EXPECT_EQ(apa->name, "APA MINERALA 0.5L");
    EXPECT_EQ(apa->price, "12.5");
    EXPECT_EQ(apa->comma, "2");
    EXPECT_EQ(apa->dept, "01");
    EXPECT_EQ(apa->vatGroup, "1");
    std::optional<ArticleRecord> paine = table->Find("5941234567890");
    ASSERT_TRUE(paine);
    EXPECT_EQ(paine->price, "3");
    EXPECT_EQ(paine->name, "PAINE FELIATA");
    EXPECT_EQ(probe.reads, 0);  // the construction's own read is not the loader's
}

// The threads of this process by id, and those of them that are not in `before`.
std::set<std::string> ThreadsOfThisProcess() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(entry.path().filename().string());
    }
    return ids;
}

std::set<std::string> NewThreads(const std::set<std::string>& before) {
    std::set<std::string> added;
    for (const std::string& id : ThreadsOfThisProcess()) {
        if (before.count(id) == 0) {
            added.insert(id);
        }
    }
    return added;
}

// A holder that has served no request has no thread: the process may still fork safely (a test
// forks a whole program after its holder was made), and the destruction has nothing to wait for.
TEST_F(ArticleHolder, TheLoaderStartsWithTheFirstRequestAndEndsWithTheHolder) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    const std::set<std::string> before = ThreadsOfThisProcess();
    auto holder = MakeHolder();
    EXPECT_TRUE(NewThreads(before).empty());
    holder->ReloadIfChanged();
    // A sanitizer's runtime may start a thread of its own with the first thread it sees made.
    const std::set<std::string> serving = NewThreads(before);
    EXPECT_GE(serving.size(), 1u);
    holder->ReloadIfChanged();
    EXPECT_EQ(NewThreads(before), serving);
    holder.reset();
    // A joined thread may still be listed for a moment while the kernel finishes its exit.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (NewThreads(before).size() >= serving.size() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(NewThreads(before).size(), serving.size() - 1);
}

TEST_F(ArticleHolder, ConstructionFailures) {
    EXPECT_EQ(ErrorOf([&] { MakeHolder(); }), "Cannot open file " + file);
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000001,1,1,1,1,ONE\r\n", kStart);
    EXPECT_EQ(ErrorOf([&] { MakeHolder(); }), "Duplicate index value. Operation aborted.");
    WriteArticles(file, "0000000000001,1,x,1,1,ONE\r\n", kStart);
    EXPECT_EQ(ErrorOf([&] { MakeHolder(); }),
              "'x' is not a valid integer value for field 'VATGroup'");
}

TEST_F(ArticleHolder, AnUnchangedFileIsNotReadAgain) {
    WriteArticles(file, "0000000000123,1,1,12.5,2,APA\r\n", kStart);
    auto holder = MakeHolder();
    const auto first = holder->Table();
    for (int request = 0; request < 5; ++request) {
        holder->ReloadIfChanged();
        ASSERT_TRUE(holder->WaitUntilSettled(10s));
        std::this_thread::sleep_for(kQuick.check * 2);  // the loader's own looks as well
    }
    EXPECT_EQ(probe.reads, 0);
    EXPECT_EQ(holder->Table(), first);
    EXPECT_EQ(holder->FileTime(), kStart);
}

TEST_F(ArticleHolder, ARewriteIsLoadedEvenWithinTheSameTick) {
    WriteArticles(file, "0000000000123,1,1,12.5,2,APA\r\n", kStart);
    auto holder = MakeHolder();
    const auto first = holder->Table();

    // Rewritten in place, same size, and the modification time set back to the one loaded (a
    // coarse clock on a share gives both writes the same time).
    WriteArticles(file, "0000000000123,1,1,99.5,2,APA\r\n", kStart);
    holder->ReloadIfChanged();
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(PriceOf(*holder, "0000000000123"), "99.5");
    EXPECT_EQ(holder->FileTime(), kStart);
    EXPECT_EQ(holder->Table()->Count(), 1u);              // replaced, not added to
    EXPECT_EQ(PriceIn(*first, "0000000000123"), "12.5");  // a table taken earlier stays as it was

    // Another size, same time.
    WriteArticles(file, "0000000000123,1,1,7,2,APA\r\n", kStart);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(PriceOf(*holder, "0000000000123"), "7");

    // Replaced by another file of the same size and time, as a back office that writes a new
    // file and renames it into place does.
    const std::string fresh = dir.File("PLU.new");
    WriteArticles(fresh, "0000000000123,1,1,8,2,APA\r\n", kStart);
    std::filesystem::rename(fresh, file);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(PriceOf(*holder, "0000000000123"), "8");

    // An older time is a change as well (a copy that kept its source's time).
    WriteArticles(file, "0000000000124,1,1,6,2,NOU\r\n", kStart - kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(PriceOf(*holder, "0000000000123"), "not found");
    EXPECT_EQ(PriceOf(*holder, "0000000000124"), "6");
    EXPECT_EQ(holder->FileTime(), kStart - kSecond);

    // Once read, it is not read again.
    const int reads = probe.reads;
    const auto last = holder->Table();
    holder->ReloadIfChanged();
    std::this_thread::sleep_for(kQuick.check * 5);
    EXPECT_EQ(probe.reads, reads);
    EXPECT_EQ(holder->Table(), last);
}

TEST_F(ArticleHolder, AFailedLoadKeepsTheWholeTableAndIsReportedUntilTheFileIsRight) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000002,1,1,2,1,TWO\r\n", kStart);
    auto holder = MakeHolder();
    const auto loaded = holder->Table();

    WriteArticles(file,
                  "0000000000001,1,1,5,1,ONE\r\n0000000000002,1,1,bad,1,TWO\r\n"
                  "0000000000003,1,1,3,1,THREE\r\n",
                  kStart + kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    for (int request = 0; request < 2; ++request) {
        EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }),
                  "'bad' is not a valid floating point value for field 'Price'");
        // The rows of the file as it was, all of them: nothing of the failed load.
        EXPECT_EQ(holder->Table(), loaded);
        EXPECT_EQ(loaded->Count(), 2u);
        EXPECT_EQ(PriceOf(*holder, "0000000000001"), "1");
        EXPECT_EQ(PriceOf(*holder, "0000000000002"), "2");
        EXPECT_EQ(holder->FileTime(), kStart);
    }

    // The same file is read again after the retry time; it fails the same way.
    const int reads = probe.reads;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (probe.reads < reads + 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kQuick.retry / 4);
    }
    EXPECT_GE(probe.reads, reads + 2);
    EXPECT_FALSE(ErrorOf([&] { holder->ReloadIfChanged(); }).empty());

    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000001,1,1,2,1,ONE AGAIN\r\n",
                  kStart + 2 * kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }),
              "Duplicate index value. Operation aborted.");
    EXPECT_EQ(holder->Table(), loaded);

    WriteArticles(file, "0000000000003,1,1,3,1,THREE\r\n", kStart + 3 * kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }), "");
    EXPECT_EQ(holder->FileTime(), kStart + 3 * kSecond);
    EXPECT_EQ(PriceOf(*holder, "0000000000003"), "3");
    EXPECT_EQ(holder->Table()->Count(), 1u);
}

TEST_F(ArticleHolder, AFileThatCannotBeOpenedKeepsTheTable) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    auto holder = MakeHolder();
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);  // newer, but no file to read
    SetModificationTime(file, kStart + kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }), "Cannot open file " + file);
    EXPECT_EQ(PriceOf(*holder, "0000000000001"), "1");
    EXPECT_EQ(holder->FileTime(), kStart);

    // Once the folder is gone too, there is no file: the table in hand answers again.
    std::filesystem::remove(file);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!ErrorOf([&] { holder->ReloadIfChanged(); }).empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kQuick.check);
    }
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }), "");
    EXPECT_EQ(PriceOf(*holder, "0000000000001"), "1");
}

TEST_F(ArticleHolder, AFileAWriterHeldLockedIsReadOnceItIsFreeWithoutAnotherChange) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    auto holder = MakeHolder();

    // The back office takes the file's lock, writes the new file and keeps the lock a while.
    const int writer = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    WriteArticles(file, "0000000000001,1,1,4,1,ONE\r\n", kStart + kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }), "Cannot open file " + file);
    EXPECT_EQ(PriceOf(*holder, "0000000000001"), "1");

    ::close(writer);  // the lock goes; the file itself does not change again
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (PriceOf(*holder, "0000000000001") != "4" &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kQuick.check);
    }
    EXPECT_EQ(PriceOf(*holder, "0000000000001"), "4");
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }), "");
}

TEST_F(ArticleHolder, AFileRewrittenDuringItsLoadIsLoadedAgainOnceItHoldsStill) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000002,1,1,1,1,TWO\r\n", kStart);
    std::vector<std::string> seenAtRead;  // by the loader's thread, read once it has settled
    probe.step = [&](TPluH& holder, int read) {
        seenAtRead.push_back(PriceOf(holder, "0000000000001"));
        if (read == 1) {
            // The back office had written half of the file when the loader read it; it
            // finishes now, while the loader has not yet looked at the stamp again.
            WriteArticles(file, "0000000000001,1,1,3,1,COMPLETE\r\n0000000000002,1,1,3,1,TWO\r\n",
                          kStart + 2 * kSecond);
        }
    };
    auto holder = MakeHolder();
    WriteArticles(file, "0000000000001,1,1,2,1,HALF WRITTEN\r\n", kStart + kSecond);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));

    EXPECT_EQ(probe.reads, 2);
    // The half-written table was never handed out: at the second read the first table was
    // still the one in hand.
    EXPECT_EQ(seenAtRead, (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(PriceOf(*holder, "0000000000001"), "3");
    EXPECT_EQ(PriceOf(*holder, "0000000000002"), "3");
    EXPECT_EQ(holder->FileTime(), kStart + 2 * kSecond);
}

TEST_F(ArticleHolder, AFileStillBeingWrittenIsNotReadUntilItHoldsStill) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    // A settle time far above the pauses between the writes below, and above a loaded
    // machine's hiccups.
    auto holder = MakeHolder({.check = 10ms, .settle = 1000ms, .retry = 100ms});
    std::string content;
    for (int line = 1; line <= 20; ++line) {
        char text[64];
        std::snprintf(text, sizeof text, "%013d,1,1,%d,1,LINE\r\n", line, 10 + line);
        content += text;
        WriteFile(file, content);  // in place, a line more each time
        holder->ReloadIfChanged();
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(probe.reads, 0);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(probe.reads, 1);
    EXPECT_EQ(holder->Table()->Count(), 20u);
    EXPECT_EQ(PriceOf(*holder, "0000000000020"), "30");
}

TEST_F(ArticleHolder, ADeletedFileKeepsTheRows) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    auto holder = MakeHolder();
    std::filesystem::remove(file);
    holder->ReloadIfChanged();
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    EXPECT_EQ(ErrorOf([&] { holder->ReloadIfChanged(); }), "");
    EXPECT_EQ(PriceOf(*holder, "0000000000001"), "1");
    EXPECT_EQ(holder->FileTime(), kStart);
    EXPECT_EQ(probe.reads, 0);
}

TEST_F(ArticleHolder, TheSearchPadsNothing) {
    WriteArticles(file, "123,1,1,12.5,2,UNPADDED\r\n0000000000124,1,1,3,2,PADDED\r\n", kStart);
    auto holder = MakeHolder();
    EXPECT_EQ(PriceOf(*holder, "0000000000123"), "not found");
    EXPECT_EQ(PriceOf(*holder, "123"), "12.5");
    EXPECT_EQ(PriceOf(*holder, "124"), "not found");
    EXPECT_EQ(PriceOf(*holder, "0000000000124"), "3");
    EXPECT_EQ(PriceOf(*holder, "0000000000124 "), "not found");
    EXPECT_EQ(PriceOf(*holder, ""), "not found");
}

TEST_F(ArticleHolder, AnEmptyFileAndLongNames) {
    WriteArticles(file, "", kStart);
    auto holder = MakeHolder();
    EXPECT_EQ(holder->Table()->Count(), 0u);
    EXPECT_EQ(PriceOf(*holder, "0000000000123"), "not found");
    WriteArticles(file, "0000000000123,1,1,1,1," + std::string(45, 'N') + "\r\n", kStart + 1);
    ASSERT_TRUE(holder->WaitUntilSettled(10s));
    std::optional<ArticleRecord> article = holder->Table()->Find("0000000000123");
    ASSERT_TRUE(article);
    EXPECT_EQ(article->name, std::string(40, 'N'));
}

// Requests search on several threads at once, without any lock of their own, while the loader
// swaps in version after version: every table a request takes is one whole version.
TEST_F(ArticleHolder, RequestsOnSeveralThreadsReadWholeVersionsWhileTablesAreSwapped) {
    constexpr int kArticles = 2000;
    auto version = [](int v) {
        std::string content;
        for (int a = 1; a <= kArticles; ++a) {
            char line[64];
            std::snprintf(line, sizeof line, "%013d,1,1,%d,1,V%d\r\n", a, v, v);
            content += line;
        }
        return content;
    };
    WriteArticles(file, version(0), kStart);
    auto holder = MakeHolder({.check = 1ms, .settle = 1ms, .retry = 100ms});

    std::atomic<bool> done{false};
    std::atomic<int> mixed{0};
    std::atomic<int> searches{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&, r] {
            for (int i = 0; !done; ++i) {
                holder->ReloadIfChanged();
                const std::shared_ptr<const ArticleTable> table = holder->Table();
                char first[16], other[16];
                std::snprintf(first, sizeof first, "%013d", 1);
                std::snprintf(other, sizeof other, "%013d", 1 + (i * 7 + r) % kArticles);
                const std::string a = PriceIn(*table, first);
                const std::string b = PriceIn(*table, other);
                if (a != b || a == "not found" ||
                    table->Count() != static_cast<std::size_t>(kArticles)) {
                    ++mixed;
                }
                ++searches;
            }
        });
    }
    for (int v = 1; v <= 5; ++v) {
        // Whole files renamed into place: a settle time this short would not wait out a write.
        WriteArticles(file + ".new", version(v), kStart + v * kSecond);
        std::filesystem::rename(file + ".new", file);
        ASSERT_TRUE(holder->WaitUntilSettled(10s));
        EXPECT_EQ(PriceOf(*holder, "0000000000001"), std::to_string(v));
    }
    done = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(searches, 0);
}

}  // namespace
}  // namespace tallyport
