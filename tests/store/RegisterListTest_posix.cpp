// The register list's file on POSIX: a list that may not be written is left alone (a read-only
// file system, a user without the right), and a save keeps the list's owner and mode.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "TableTestSupport.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"
#include "support/ScratchMount.h"

namespace tallyport {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using testing::AddRegister;

class RegisterListFile : public ::testing::Test {
protected:
    TempFolder dir;
    test::ScratchMounts mounts;  // after the folder: undone before it is removed
    std::unique_ptr<CsvTable> list = MakeRegisterList();
    const std::string line = "1,Datecs MP55,9600,8,None,1,COM1,DA00000001,CASA\r\n";
};

TEST_F(RegisterListFile, AReadOnlyListIsNotReplacedAndTheSaveSaysSo) {
    const std::string shop = dir.File("shop");
    std::filesystem::create_directory(shop);
    if (!mounts.MountTmpfs(shop)) {
        GTEST_SKIP() << mounts.Why();
    }
    const std::string path = shop + "/ECRs.dat";
    WriteFile(path, line);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    LoadTableFromFile(*list, path);
    AddRegister(*list, "2", "COM2");
    ASSERT_TRUE(mounts.SetReadOnly(shop, true)) << mounts.Why();

    try {
        SaveTableToFile(*list, path);
        ADD_FAILURE() << "a read-only list was replaced";
    } catch (const StoreError& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file " + path).c_str());
        EXPECT_EQ(e.Reason(), EROFS);
    }
    EXPECT_EQ(ReadFile(path), line);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    EXPECT_EQ(test::NamesIn(shop), std::vector<std::string>{"ECRs.dat"});
    EXPECT_EQ(list->RowCount(), 2u);  // the change stays in memory
}

TEST_F(RegisterListFile, AListWithoutWriteRightsIsNotReplacedByAUserWithoutThem) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to become another user";
    }
    // A read-only list in a folder that anyone may write: a plain write is refused to an
    // ordinary user, so a save must be too (replacing it through the folder would not be).
    const std::string path = dir.File("ECRs.dat");
    WriteFile(path, line);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    LoadTableFromFile(*list, path);
    AddRegister(*list, "2", "COM2");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only this process becomes the user "nobody" (65534).
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(3);
        }
        try {
            SaveTableToFile(*list, path);
        } catch (const StoreError& e) {
            ::_exit(e.what() == "Cannot create file " + path && e.Reason() == EACCES ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the list was replaced, 2: wrong message, 3: no user";
    EXPECT_EQ(ReadFile(path), line);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"ECRs.dat"});
}

TEST_F(RegisterListFile, ASaveKeepsTheListsOwnerAndMode) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another owner needs root";
    }
    const std::string path = dir.File("ECRs.dat");
    WriteFile(path, line);
    ASSERT_EQ(::chown(path.c_str(), 1001, 1002), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
    LoadTableFromFile(*list, path);
    AddRegister(*list, "2", "COM2");
    SaveTableToFile(*list, path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 1001u);
    EXPECT_EQ(info.st_gid, 1002u);
    EXPECT_EQ(info.st_mode & 07777, 0660u);
    EXPECT_EQ(ReadFile(path).substr(0, line.size()), line);
}

}  // namespace
}  // namespace tallyport
