// The one file-replace helper on Windows: the old file's attributes and access list stay, a
// file Windows would not let anyone write is not replaced, a file another program holds is
// written where it is or refused, and names are the code page's bytes.
// First: windows.h with its names that the program also uses taken back.
#include "support/WindowsFiles.h"
// After windows.h:
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/FileReplace.h"
#include "base/Win32File.h"
#include "base/Win32Text.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using test::AttributesOf;
using test::FileIndexOf;
using test::ReadFile;
using test::Wide;
using test::WideNamesIn;
using test::WriteFile;

std::wstring AccessList(const std::string& path) {
    DWORD needed = 0;
    ::GetFileSecurityW(Wide(path).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<char> descriptor(needed);
    if (needed == 0 || !::GetFileSecurityW(Wide(path).c_str(), DACL_SECURITY_INFORMATION,
                                           descriptor.data(), needed, &needed)) {
        return L"?";
    }
    wchar_t* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    std::wstring result = text ? text : L"?";
    ::LocalFree(text);
    return result;
}

class FileReplaceOnWindows : public ::testing::Test {
protected:
    test::TempFolder dir;
};

TEST_F(FileReplaceOnWindows, ANewFileIsCreatedAndAnOldOneReplacedWithNothingLeftBeside) {
    const std::string path = dir.File("ECRs.dat");
    ReplaceOutcome outcome = ReplaceFile(path, "1,A\r\n");
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    EXPECT_EQ(ReadFile(path), "1,A\r\n");
    const std::uint64_t first = FileIndexOf(path);

    outcome = ReplaceFile(path, std::string("2,B\xE9\r\n"));
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    EXPECT_FALSE(outcome.inPlace);
    EXPECT_EQ(ReadFile(path), "2,B\xE9\r\n");
    EXPECT_NE(FileIndexOf(path), first) << "a new file took the old one's place whole";
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"ECRs.dat"});
}

TEST_F(FileReplaceOnWindows, ANameRelativeToTheWorkingFolderIsReplacedThere) {
    // The register list's default name, "ECRs.dat", is relative to the program's folder.
    wchar_t before[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(::SetCurrentDirectoryW(Wide(dir.Path().string()).c_str()));
    WriteFile(dir.File("ECRs.dat"), "1,A\r\n");
    const ReplaceOutcome outcome = ReplaceFile("ECRs.dat", "2,B\r\n");
    const ReplaceOutcome created = ReplaceFile("Bon.txt", "x");
    ::SetCurrentDirectoryW(before);
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    ASSERT_TRUE(created.Ok()) << ErrorText(created.error);
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), "2,B\r\n");
    EXPECT_EQ(ReadFile(dir.File("Bon.txt")), "x");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Bon.txt", "ECRs.dat"}));
}

TEST_F(FileReplaceOnWindows, TheFileKeepsItsAttributesAndAccessList) {
    const std::string path = dir.File("Tallyport.ini");
    WriteFile(path, "old");
    ASSERT_TRUE(
        ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    PSECURITY_DESCRIPTOR wanted = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)", SDDL_REVISION_1, &wanted, nullptr));
    ASSERT_TRUE(::SetFileSecurityW(Wide(path).c_str(), DACL_SECURITY_INFORMATION, wanted));
    ::LocalFree(wanted);
    const std::wstring before = AccessList(path);

    const ReplaceOutcome outcome = ReplaceFile(path, "new");
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    EXPECT_FALSE(outcome.inPlace);
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(AttributesOf(path) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(AccessList(path), before);
}

TEST_F(FileReplaceOnWindows, AReadOnlyFileIsNotReplacedAndSaysWhy) {
    const std::string path = dir.File("ECRs.dat");
    WriteFile(path, "1,A\r\n");
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    const std::uint64_t index = FileIndexOf(path);

    const ReplaceOutcome outcome = ReplaceFile(path, "2,B\r\n");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ErrorText(outcome.error), win32::SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ErrorText(outcome.error).empty());
    EXPECT_EQ(ReadFile(path), "1,A\r\n");
    EXPECT_EQ(FileIndexOf(path), index);
    EXPECT_NE(AttributesOf(path) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"ECRs.dat"});
    ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileReplaceOnWindows, AFolderOrAMissingFolderIsRefusedAtCreation) {
    ReplaceOutcome outcome = ReplaceFile(dir.Path().string(), "x");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, ERROR_ACCESS_DENIED);
    outcome = ReplaceFile(dir.File("no\\such.dat"), "x");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReplaceFile("", "x").failed, ReplaceOutcome::Step::Create);
}

TEST_F(FileReplaceOnWindows, AFileAnotherProgramKeepsWritersFromIsLeftAlone) {
    const std::string path = dir.File("PLU.txt");
    WriteFile(path, "old");
    // The back office reading the file and letting others only read it.
    win32::UniqueHandle reader(win32::OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    ASSERT_TRUE(reader.Valid());
    const ReplaceOutcome outcome = ReplaceFile(path, "new");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, ERROR_SHARING_VIOLATION);
    reader.Reset();
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"PLU.txt"});
}

TEST_F(FileReplaceOnWindows, NamesAreTheCodePagesBytesBothWays) {
    // "ș" as UTF-8 (two bytes that are letters of the code page too), and a byte that is not
    // UTF-8 (0xBA: "ş" in 1250, "º" in 1252).
    for (const std::string& name : {std::string("Set\xC8\x99ri.ini"), std::string("Cas\xBA.dat")}) {
        test::TempFolder folder;
        // Joined here: the test folder's helpers read names as UTF-8 on Windows.
        const std::string path = folder.Path().string() + "\\" + name;
        ASSERT_TRUE(ReplaceFile(path, "one").Ok()) << name;
        ASSERT_TRUE(ReplaceFile(path, "two").Ok()) << name;
        // The system's name is what the code page makes of the bytes...
        const std::wstring expected = win32::WideFromAnsi(name).value();
        EXPECT_EQ(WideNamesIn(folder.Path().string()), std::vector<std::wstring>{expected});
        // ...and it gives the same bytes back.
        EXPECT_EQ(win32::AnsiFromWide(expected), name);
        win32::UniqueHandle file(
            win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_EXISTING));
        char bytes[8] = {};
        DWORD got = 0;
        ASSERT_TRUE(::ReadFile(file.Get(), bytes, sizeof bytes, &got, nullptr));
        EXPECT_EQ(std::string(bytes, got), "two");
    }
}

}  // namespace
}  // namespace tallyport
