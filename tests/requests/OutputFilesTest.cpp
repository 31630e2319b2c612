#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "TestFiles.h"
#include "base/NoticeSink.h"
#include "link/SerialExtended.h"
#include "requests/ClosingCommit.h"
#include "requests/OutputFileNames.h"
#include "requests/OutputFiles.h"
#include "requests/RequestContext.h"
#include "requests/RequestError.h"

namespace tallyport {
namespace {

using testing::ReadCrLfLines;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(OutputFiles, CreatesAMissingFileAndAppendsToAnExistingOne) {
    TempFolder folder;
    std::string path = folder.File("Tran.txt");
    AppendLinesToFile(path, {"first", "second"});
    EXPECT_EQ(ReadFile(path), "first\r\nsecond\r\n");
    AppendLinesToFile(path, {"third"});
    EXPECT_EQ(ReadFile(path), "first\r\nsecond\r\nthird\r\n");

    std::string existing = folder.File("Bon.txt");
    WriteFile(existing, "kept from yesterday\r\n");
    AppendLinesToFile(existing, {"today"});
    EXPECT_EQ(ReadFile(existing), "kept from yesterday\r\ntoday\r\n");
}

TEST(OutputFiles, NoLinesStillCreatesTheFile) {
    TempFolder folder;
    std::string path = folder.File("Tran.txt");
    AppendLinesToFile(path, {});
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(OutputFiles, BytesGoOutAsHeld) {
    TempFolder folder;
    std::string path = folder.File("Tran.txt");
    std::string line = std::string("Cafea \xE2\xBA") + '\0' + "x";
    AppendLinesToFile(path, {line});
    EXPECT_EQ(ReadFile(path), line + "\r\n");
}

TEST(OutputFiles, FailuresNameTheFileAndLeaveNothingBehind) {
    TempFolder folder;
    std::string missingFolder = folder.File("no/such/folder/Tran.txt");
    try {
        AppendLinesToFile(missingFolder, {"line"});
        FAIL() << "the append should have failed";
    } catch (const RequestError& e) {
        EXPECT_NE(std::string(e.what()).find(missingFolder), std::string::npos) << e.what();
    }

    std::string aFile = folder.File("plain");
    WriteFile(aFile, "x");
    EXPECT_THROW(AppendLinesToFile(aFile + "/Tran.txt", {"line"}), RequestError);
    EXPECT_EQ(ReadFile(aFile), "x");

    std::string aFolder = folder.File("Tran.d");
    ASSERT_TRUE(std::filesystem::create_directory(aFolder));
    EXPECT_THROW(AppendLinesToFile(aFolder, {"line"}), RequestError);
}

class NoNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string&, int, NoticeIcon) override {}
};

// Two workers close receipts at the same moment into one file that takes the closing lines and
// the transaction lines alike (both settings name it). Each closing is two writes; the
// program's own serialisation of the appends (the request context's lock, taken by the commit)
// keeps each closing's lines together: its closing line, then its transaction lines, never
// split by the other worker's.
TEST(OutputFiles, TwoWorkersClosingAtOnceNeverInterleave) {
    TempFolder folder;
    const std::string path = folder.File("Shared.txt");
    NoNotices notices;
    RequestContext context;
    LinkOptions options;
    options.ReceiptMasterFile = path;
    options.ReceiptDetailFile = path;
    constexpr int kRounds = 300;
    constexpr int kLines = 3;
    auto closeReceipts = [&](int worker) {
        TSerialExtended link(options, notices);
        link.LogicalNb = worker;
        RequestFields fields;
        for (int r = 0; r < kRounds; ++r) {
            std::vector<std::string> filled;
            for (int i = 0; i < kLines; ++i) {
                filled.push_back("T," + std::to_string(worker) + "," + std::to_string(r) + "," +
                                 std::to_string(i) + "," + std::string(200, 'a'));
            }
            link.PendingTranLines.Update([&filled](std::vector<std::string>& l) { l = filled; });
            ClosingCommit commit(link, fields, context);
            ASSERT_TRUE(commit.Journal(
                filled, "B," + std::to_string(worker) + "," + std::to_string(r), std::nullopt, ""));
            commit.TakeLines();
            commit.WriteFiles();
            ASSERT_TRUE(link.PendingTranLines.Empty());
            ASSERT_TRUE(link.PendingBonLines.Empty());
        }
    };
    std::thread one(closeReceipts, 1);
    std::thread two(closeReceipts, 2);
    one.join();
    two.join();

    const auto lines = ReadCrLfLines(path);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(2 * kRounds * (kLines + 1)));
    std::vector<int> nextRound(3, 0);
    for (std::size_t i = 0; i < lines.size(); i += kLines + 1) {
        ASSERT_EQ(lines[i].substr(0, 2), "B,") << "line " << i << ": " << lines[i];
        const int worker = lines[i][2] - '0';
        ASSERT_TRUE(worker == 1 || worker == 2) << lines[i];
        const std::string round = std::to_string(nextRound[worker]++);
        EXPECT_EQ(lines[i], "B," + std::to_string(worker) + "," + round);
        for (int k = 0; k < kLines; ++k) {
            EXPECT_EQ(lines[i + 1 + static_cast<std::size_t>(k)],
                      "T," + std::to_string(worker) + "," + round + "," + std::to_string(k) + "," +
                          std::string(200, 'a'))
                << "the closing of worker " << worker << ", round " << round << " was split";
        }
    }
    EXPECT_EQ(nextRound[1], kRounds);
    EXPECT_EQ(nextRound[2], kRounds);
}

TEST(OutputFileNames, PerRegisterFileNames) {
    EXPECT_EQ(PerRegisterFileName("Bon.txt", 3), "Bon.txt3.txt");
    EXPECT_EQ(PerRegisterFileName("Bon.txt", 12), "Bon.txt12.txt");
    EXPECT_EQ(PerRegisterFileName("Tran.txt", 12), "Tran.txt12.txt");
    EXPECT_EQ(PerRegisterFileName("Bon", 3), "Bon3");
    EXPECT_EQ(PerRegisterFileName("C:\\BO\\Bon", 3), "C:\\BO\\Bon3");
    EXPECT_EQ(PerRegisterFileName("C:\\BO.2026\\Bon.dat", 3), "C:\\BO.2026\\Bon.dat3.dat");
    EXPECT_EQ(PerRegisterFileName("/srv/bo.d/Bon", 3), "/srv/bo.d/Bon3");
    EXPECT_EQ(PerRegisterFileName("/srv/bo.d/Bon.csv", 7), "/srv/bo.d/Bon.csv7.csv");
    EXPECT_EQ(PerRegisterFileName("out/a.b.txt", 1), "out/a.b.txt1.txt");
    EXPECT_EQ(PerRegisterFileName("C:Bon.txt", 3), "C:Bon.txt3.txt");
    EXPECT_EQ(PerRegisterFileName("bo.d:Bon", 3), "bo.d:Bon3");  // a drive separator too
    EXPECT_EQ(PerRegisterFileName(".hidden", 2), ".hidden2.hidden");
    EXPECT_EQ(FileExtension("/srv/bo.d/Bon.csv"), ".csv");
    EXPECT_EQ(FileExtension("/srv/bo.d/Bon"), "");
}

}  // namespace
}  // namespace tallyport
