#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "TestFiles.h"
#include "requests/OutputFileNames.h"
#include "requests/OutputFiles.h"
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

TEST(OutputFiles, ConcurrentAppendsUnderOneLockNeverInterleave) {
    TempFolder folder;
    std::string path = folder.File("Tran.txt");
    std::mutex appends;
    constexpr int kWriters = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int r = 0; r < kRounds; ++r) {
                std::vector<std::string> lines;
                for (int i = 0; i < 3; ++i) {
                    lines.push_back(std::to_string(w) + "," + std::to_string(r) + "," +
                                    std::to_string(i) + "," + std::string(100, 'a' + w));
                }
                std::lock_guard<std::mutex> guard(appends);
                AppendLinesToFile(path, lines);
            }
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    auto lines = ReadCrLfLines(path);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kWriters * kRounds * 3));
    std::vector<int> nextRound(kWriters, 0);
    for (std::size_t i = 0; i < lines.size(); i += 3) {
        int w = lines[i][0] - '0';
        ASSERT_GE(w, 0);
        ASSERT_LT(w, kWriters);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(lines[i + k], std::to_string(w) + "," + std::to_string(nextRound[w]) + "," +
                                        std::to_string(k) + "," + std::string(100, 'a' + w));
        }
        ++nextRound[w];
    }
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(nextRound[w], kRounds);
    }
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
