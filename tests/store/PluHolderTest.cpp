#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "TableTestSupport.h"
#include "store/PluHolder.h"

namespace tallyport {
namespace {

using test::TempFolder;
using test::WriteFile;
using testing::ErrorOf;

constexpr std::int64_t kSecond = 1'000'000'000;
const std::int64_t kStart = std::int64_t{1'700'000'000} * kSecond + 123'456'789;

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

std::string PriceOf(TPluH& holder, const std::string& code) {
    CsvTable& table = holder.Table();
    return table.Locate(kArtCodPLU, code) ? table.AsText(kArtPrice, '.') : "not found";
}

class ArticleHolder : public ::testing::Test {
protected:
    TempFolder dir;
    std::string file = dir.File("PLU.txt");
    std::unique_ptr<CsvTable> table = MakeArticleTable();
};

TEST_F(ArticleHolder, LoadsAtConstructionAndAnswersTheLookupReads) {
    WriteArticles(file,
                  "0000000000123,01,1,12.5,2,APA MINERALA 0.5L\r\n"
                  "5941234567890,12,2,3,3,PAINE FELIATA\r\n",
                  kStart);
    TPluH holder(file, *table);
    EXPECT_EQ(holder.FileName(), file);
    EXPECT_EQ(holder.FileTime(), kStart);
    EXPECT_EQ(&holder.Table(), table.get());
    ASSERT_TRUE(table->Locate(kArtCodPLU, "0000000000123"));
    EXPECT_EQ(table->AsText(kArtName), "APA MINERALA 0.5L");
    EXPECT_EQ(table->AsText(kArtPrice, '.'), "12.5");
    EXPECT_EQ(table->AsText(kArtComma), "2");
    EXPECT_EQ(table->AsText(kArtDept), "01");
    EXPECT_EQ(table->AsText(kArtVATGroup), "1");
    ASSERT_TRUE(table->Locate(kArtCodPLU, "5941234567890"));
    EXPECT_EQ(table->AsText(kArtPrice, '.'), "3");
    EXPECT_EQ(table->AsText(kArtName), "PAINE FELIATA");
}

TEST_F(ArticleHolder, ConstructionEmptiesAnOpenTableAndOpensAClosedOne) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    { TPluH first(file, *table); }
    EXPECT_EQ(table->RowCount(), 1u);  // freeing the holder leaves the rows
    TPluH second(file, *table);
    EXPECT_EQ(table->RowCount(), 1u);
    table->Close();
    TPluH third(file, *table);
    EXPECT_TRUE(table->IsOpen());
    EXPECT_EQ(table->RowCount(), 1u);
}

// Marks the loaded row in memory, so that a reload (which reads the file again) shows.
void MarkInMemory(CsvTable& table, const std::string& code) {
    ASSERT_TRUE(table.Locate(kArtCodPLU, code));
    table.Edit();
    table.SetFromText(kArtName, "IN MEMORY");
    table.Post();
}

std::string NameOf(TPluH& holder, const std::string& code) {
    CsvTable& table = holder.Table();
    return table.Locate(kArtCodPLU, code) ? table.AsText(kArtName) : "not found";
}

TEST_F(ArticleHolder, AnUnchangedFileIsNotReadAgain) {
    WriteArticles(file, "0000000000123,1,1,12.5,2,APA\r\n", kStart);
    TPluH holder(file, *table);
    MarkInMemory(*table, "0000000000123");
    for (int request = 0; request < 3; ++request) {
        holder.ReloadIfChanged();
        EXPECT_EQ(NameOf(holder, "0000000000123"), "IN MEMORY");
    }
    EXPECT_EQ(holder.FileTime(), kStart);
}

TEST_F(ArticleHolder, ARewriteWithinTheSameTickIsReadAgain) {
    WriteArticles(file, "0000000000123,1,1,12.5,2,APA\r\n", kStart);
    TPluH holder(file, *table);

    // Rewritten in place, same size, and the modification time set back to the one loaded (a
    // coarse clock on a share gives both writes the same time).
    WriteArticles(file, "0000000000123,1,1,99.5,2,APA\r\n", kStart);
    holder.ReloadIfChanged();
    EXPECT_EQ(PriceOf(holder, "0000000000123"), "99.5");
    EXPECT_EQ(holder.FileTime(), kStart);
    EXPECT_EQ(table->RowCount(), 1u);  // replaced, not added to

    // Another size, same time.
    WriteArticles(file, "0000000000123,1,1,7,2,APA\r\n", kStart);
    holder.ReloadIfChanged();
    EXPECT_EQ(PriceOf(holder, "0000000000123"), "7");

    // Replaced by another file of the same size and time, as a back office that writes a new
    // file and renames it into place does.
    const std::string fresh = dir.File("PLU.new");
    WriteArticles(fresh, "0000000000123,1,1,8,2,APA\r\n", kStart);
    std::filesystem::rename(fresh, file);
    holder.ReloadIfChanged();
    EXPECT_EQ(PriceOf(holder, "0000000000123"), "8");

    // An older time is a change as well (a copy that kept its source's time).
    WriteArticles(file, "0000000000124,1,1,6,2,NOU\r\n", kStart - kSecond);
    holder.ReloadIfChanged();
    EXPECT_EQ(PriceOf(holder, "0000000000123"), "not found");
    EXPECT_EQ(PriceOf(holder, "0000000000124"), "6");
    EXPECT_EQ(holder.FileTime(), kStart - kSecond);

    // Once read, it is not read again.
    MarkInMemory(*table, "0000000000124");
    holder.ReloadIfChanged();
    EXPECT_EQ(NameOf(holder, "0000000000124"), "IN MEMORY");
}

TEST_F(ArticleHolder, AFailedReloadKeepsTheTimeAndIsTriedAgain) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000002,1,1,2,1,TWO\r\n", kStart);
    TPluH holder(file, *table);

    WriteArticles(file,
                  "0000000000001,1,1,5,1,ONE\r\n0000000000002,1,1,bad,1,TWO\r\n"
                  "0000000000003,1,1,3,1,THREE\r\n",
                  kStart + kSecond);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(ErrorOf([&] { holder.ReloadIfChanged(); }),
                  "'bad' is not a valid floating point value for field 'Price'");
        EXPECT_EQ(holder.FileTime(), kStart);
        EXPECT_EQ(table->RowCount(), 1u);  // what was read before the failing line
        EXPECT_EQ(PriceOf(holder, "0000000000001"), "5");
    }

    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000001,1,1,2,1,ONE AGAIN\r\n",
                  kStart + 2 * kSecond);
    EXPECT_EQ(ErrorOf([&] { holder.ReloadIfChanged(); }),
              "Duplicate index value. Operation aborted.");
    EXPECT_EQ(holder.FileTime(), kStart);
    EXPECT_EQ(table->RowCount(), 2u);

    WriteArticles(file, "0000000000003,1,1,3,1,THREE\r\n", kStart + 3 * kSecond);
    holder.ReloadIfChanged();
    EXPECT_EQ(holder.FileTime(), kStart + 3 * kSecond);
    EXPECT_EQ(PriceOf(holder, "0000000000003"), "3");
    EXPECT_EQ(table->RowCount(), 1u);
}

TEST_F(ArticleHolder, AFileThatCannotBeOpenedAtAReloadLeavesAnEmptyTable) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    TPluH holder(file, *table);
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);  // newer, but no file to read
    SetModificationTime(file, kStart + kSecond);
    EXPECT_EQ(ErrorOf([&] { holder.ReloadIfChanged(); }), "Cannot open file " + file);
    EXPECT_EQ(table->RowCount(), 0u);
    EXPECT_EQ(holder.FileTime(), kStart);
}

// True once thread `tid` of this process sleeps (it waits for a lock), within `limit`.
bool WaitUntilAsleep(pid_t tid, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string stat = test::ReadFile("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S') {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST_F(ArticleHolder, AFileRewrittenDuringAReloadIsReadAgain) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    TPluH holder(file, *table);
    WriteArticles(file, "0000000000001,1,1,2,1,HALF WRITTEN\r\n", kStart + kSecond);

    // The reload reads the time, then waits for the table's lock, which this test holds
    // while the back office finishes the file.
    std::unique_lock<std::mutex> lock(table->Mutex());
    std::atomic<pid_t> tid{0};
    std::thread reloader([&] {
        tid = ::gettid();
        holder.ReloadIfChanged();
    });
    while (tid == 0) {
        std::this_thread::yield();
    }
    bool asleep = WaitUntilAsleep(tid, std::chrono::seconds(10));
    WriteArticles(file, "0000000000001,1,1,3,1,COMPLETE\r\n", kStart + 2 * kSecond);
    lock.unlock();
    reloader.join();
    ASSERT_TRUE(asleep);

    EXPECT_EQ(holder.FileTime(), kStart + kSecond);  // the time the reload began with
    holder.ReloadIfChanged();
    EXPECT_EQ(PriceOf(holder, "0000000000001"), "3");
    EXPECT_EQ(holder.FileTime(), kStart + 2 * kSecond);
}

TEST_F(ArticleHolder, ADeletedFileKeepsTheRows) {
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n", kStart);
    TPluH holder(file, *table);
    std::filesystem::remove(file);
    holder.ReloadIfChanged();
    EXPECT_EQ(PriceOf(holder, "0000000000001"), "1");
    EXPECT_EQ(holder.FileTime(), kStart);
}

TEST_F(ArticleHolder, ConstructionFailures) {
    EXPECT_EQ(ErrorOf([&] { TPluH holder(file, *table); }), "Cannot open file " + file);
    WriteArticles(file, "0000000000001,1,1,1,1,ONE\r\n0000000000001,1,1,1,1,ONE\r\n", kStart);
    EXPECT_EQ(ErrorOf([&] { TPluH holder(file, *table); }),
              "Duplicate index value. Operation aborted.");
    WriteArticles(file, "0000000000001,1,x,1,1,ONE\r\n", kStart);
    EXPECT_EQ(ErrorOf([&] { TPluH holder(file, *table); }),
              "'x' is not a valid integer value for field 'VATGroup'");
}

TEST_F(ArticleHolder, TheSearchPadsNothing) {
    WriteArticles(file, "123,1,1,12.5,2,UNPADDED\r\n0000000000124,1,1,3,2,PADDED\r\n", kStart);
    TPluH holder(file, *table);
    EXPECT_EQ(PriceOf(holder, "0000000000123"), "not found");
    EXPECT_EQ(PriceOf(holder, "123"), "12.5");
    EXPECT_EQ(PriceOf(holder, "124"), "not found");
    EXPECT_EQ(PriceOf(holder, "0000000000124"), "3");
    EXPECT_EQ(PriceOf(holder, "0000000000124 "), "not found");
}

TEST_F(ArticleHolder, AnEmptyFileAndLongNames) {
    WriteArticles(file, "", kStart);
    TPluH holder(file, *table);
    EXPECT_EQ(table->RowCount(), 0u);
    EXPECT_EQ(PriceOf(holder, "0000000000123"), "not found");
    WriteArticles(file, "0000000000123,1,1,1,1," + std::string(45, 'N') + "\r\n", kStart + 1);
    holder.ReloadIfChanged();
    ASSERT_TRUE(table->Locate(kArtCodPLU, "0000000000123"));
    EXPECT_EQ(table->AsText(kArtName), std::string(40, 'N'));
}

}  // namespace
}  // namespace tallyport
