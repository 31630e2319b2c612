#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <string>

#include "base/FileIo.h"
#include "base/UniqueFd.h"
#include "base/Win32File.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

TEST(FileIoOnWindows, FolderOfAPath) {
    EXPECT_EQ(FolderOf("Bon.txt"), ".");
    EXPECT_EQ(FolderOf("C:\\Bon.txt"), "C:\\");
    EXPECT_EQ(FolderOf("C:\\srv\\bo\\Bon.txt"), "C:\\srv\\bo");
    EXPECT_EQ(FolderOf("C:/srv/bo/Bon.txt"), "C:/srv/bo");
    EXPECT_EQ(FolderOf("bo\\Bon.txt"), "bo");
    EXPECT_EQ(FolderOf("\\\\server\\share\\Bon.txt"), "\\\\server\\share");
}

TEST(FileIoOnWindows, WriteAllWritesEveryByteOrSaysWhyNot) {
    test::TempFolder folder;
    const std::string path = folder.File("out.txt");
    std::string bytes;
    for (int i = 0; i < 300000; ++i) {
        bytes += static_cast<char>(i % 251);
    }
    {
        UniqueFd file(win32::DescriptorOf(
            win32::OpenFile(path, GENERIC_WRITE, win32::kShareAll, CREATE_NEW)));
        ASSERT_TRUE(file.Valid());
        EXPECT_TRUE(WriteAll(file.Get(), bytes));
        EXPECT_TRUE(WriteAll(file.Get(), ""));
    }
    EXPECT_EQ(test::ReadFile(path), bytes);

    UniqueFd readOnly(
        win32::DescriptorOf(win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_EXISTING)));
    ASSERT_TRUE(readOnly.Valid());
    ::SetLastError(0);
    EXPECT_FALSE(WriteAll(readOnly.Get(), "x"));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace tallyport
