// Appends on Windows: a file Windows would not let anyone write (read-only, or held by a program
// that keeps writers out) refuses the lines whole and keeps its bytes, so that the lines stay
// pending; the back office may read the file, or rename it away, while lines go in.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "base/SystemError.h"
#include "requests/OutputFiles.h"
#include "requests/RequestError.h"
#include "support/WindowsFiles.h"

namespace tallyport {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::string FailureOf(const std::string& path, const std::vector<std::string>& lines) {
    try {
        AppendLinesToFile(path, lines);
    } catch (const RequestError& e) {
        return e.what();
    }
    return "(appended)";
}

TEST(OutputFilesOnWindows, AFileWindowsWouldNotWriteKeepsItsBytes) {
    TempFolder folder;
    const std::string path = folder.File("Bon.txt");
    WriteFile(path, "kept\r\n");
    ASSERT_TRUE(test::SetAttributes(path, FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(FailureOf(path, {"line"}),
              "Cannot open file " + path + ": " + ErrorText(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(test::SetAttributes(path, FILE_ATTRIBUTE_NORMAL));
    {
        const auto reader = test::HoldFile(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.Valid());
        EXPECT_EQ(FailureOf(path, {"line"}),
                  "Cannot open file " + path + ": " + ErrorText(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(ReadFile(path), "kept\r\n");
    AppendLinesToFile(path, {"line"});
    EXPECT_EQ(ReadFile(path), "kept\r\nline\r\n");
}

TEST(OutputFilesOnWindows, TheBackOfficeMayReadOrTakeTheFileMeanwhile) {
    TempFolder folder;
    const std::string path = folder.File("Tran.txt");
    AppendLinesToFile(path, {"first"});
    {
        // A reader that lets writers in, as a program that follows the file does.
        const auto reader = test::HoldFile(path, GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        ASSERT_TRUE(reader.Valid());
        AppendLinesToFile(path, {"second"});
    }
    EXPECT_EQ(ReadFile(path), "first\r\nsecond\r\n");
    // The back office takes the file by renaming it; the next lines start a new one.
    ASSERT_TRUE(
        ::MoveFileW(test::Wide(path).c_str(), test::Wide(folder.File("taken.txt")).c_str()));
    AppendLinesToFile(path, {"third"});
    EXPECT_EQ(ReadFile(path), "third\r\n");
    EXPECT_EQ(ReadFile(folder.File("taken.txt")), "first\r\nsecond\r\n");
}

TEST(OutputFilesOnWindows, ANonAsciiNameIsTheCodePagesBytes) {
    TempFolder folder;
    const std::string name = "Bon \xC8\x99i \xBA.txt";
    const std::string path = folder.Path().string() + "\\" + name;
    AppendLinesToFile(path, {"one"});
    AppendLinesToFile(path, {"two"});
    EXPECT_EQ(test::WideNamesIn(folder.Path().string()),
              std::vector<std::wstring>{win32::WideFromAnsi(name).value()});
    win32::UniqueHandle file(win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_EXISTING));
    char bytes[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(file.Get(), bytes, sizeof bytes, &got, nullptr));
    EXPECT_EQ(std::string(bytes, got), "one\r\ntwo\r\n");
}

}  // namespace
}  // namespace tallyport
