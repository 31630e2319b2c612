// The configuration file's writes on POSIX: a new file renamed into place with the old one's
// mode, a write that fails half-way, a link followed, a folder or a file that refuses writes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "ConfigTestSupport.h"
#include "store/IniProfile.h"
#include "store/StoreError.h"
#include "support/ScratchMount.h"

namespace tallyport {
namespace {

using test::TempFolder;
using test::WriteFile;
using testing::ReadExistingFile;

ino_t InodeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

TEST(IniProfileWrite, WritesReplaceTheFileAndLeaveNoTemporaryFile) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    std::string old = "[Files]\r\nPLU=PLU.txt\r\n";
    WriteFile(path, old);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // A second name for the old file shows that the write made a new file rather than
    // rewriting the old one in place, where a crash would leave it half written.
    ASSERT_EQ(::link(path.c_str(), folder.File("old.ini").c_str()), 0);

    WriteProfileString(path, "Files", "PLU", "Art.txt");
    EXPECT_EQ(ReadExistingFile(path), "[Files]\r\nPLU=Art.txt\r\n");
    EXPECT_EQ(ReadExistingFile(folder.File("old.ini")), old);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"Tallyport.ini", "old.ini"}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // Writing the value the file already holds leaves the file alone.
    ino_t inode = InodeOf(path);
    WriteProfileString(path, "files", "plu", "Art.txt");
    EXPECT_EQ(InodeOf(path), inode);
}

TEST(IniProfileWrite, WriteFailingHalfwayLeavesTheOldFileAndNoTemporaryFile) {
    TempFolder folder;
    std::string path = folder.File("Tallyport.ini");
    std::string old = "[Files]\r\nPLU=PLU.txt\r\n";
    WriteFile(path, old);
    // A file size limit makes writing the temporary file fail once it exists. The limit is set
    // in a child process, where it cannot reach the test's own output.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 1024;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(3);
        }
        try {
            WriteProfileString(path, "Files", "PLU", std::string(4096, 'x'));
        } catch (const StoreError& error) {
            ::_exit(error.what() == "Unable to write to " + path ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write succeeded, 2: wrong message";
    EXPECT_EQ(ReadExistingFile(path), old);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"Tallyport.ini"}));
}

TEST(IniProfileWrite, SymbolicLinkIsFollowedAndKept) {
    TempFolder folder;
    std::filesystem::create_directory(folder.Path() / "real");
    std::string target = folder.File("real/Tallyport.ini");
    WriteFile(target, "[Scale]\nPrefix=24\n");
    std::string link = folder.File("Tallyport.ini");
    std::filesystem::create_symlink(target, link);

    WriteProfileString(link, "Scale", "Prefix", "27");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadExistingFile(target), "[Scale]\nPrefix=27\n");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"Tallyport.ini", "real"}));
    EXPECT_EQ(test::NamesIn(folder.Path() / "real"), (std::vector<std::string>{"Tallyport.ini"}));
}

class IniProfileFolder : public ::testing::Test {
protected:
    TempFolder folder;
    test::ScratchMounts mounts;  // after the folder: undone before it is removed
    std::string program = folder.File("program");
    std::string path = program + "/Tallyport.ini";
    std::string old = "[Files]\r\nPLU=PLU\xE9.txt\r\n";

    bool MountProgramFolder() {
        std::filesystem::create_directory(program);
        return mounts.MountTmpfs(program);
    }
};

TEST_F(IniProfileFolder, AProgramFolderThatRefusesNewFilesStillTakesTheSettings) {
    const std::string elsewhere = folder.File("elsewhere");
    std::filesystem::create_directory(elsewhere);
    if (!MountProgramFolder() || !mounts.MountTmpfs(elsewhere)) {
        GTEST_SKIP() << mounts.Why();
    }
    // The file itself stays writable (bound from another file system) while its folder
    // becomes read-only: no temporary file can be made beside it.
    WriteFile(path, "");
    WriteFile(elsewhere + "/Tallyport.ini", old);
    ASSERT_TRUE(mounts.BindFile(elsewhere + "/Tallyport.ini", path)) << mounts.Why();
    ASSERT_TRUE(mounts.SetReadOnly(program, true)) << mounts.Why();

    WriteProfileString(path, "Scale", "Prefix", "27");
    EXPECT_EQ(ReadExistingFile(path), old + "[Scale]\r\nPrefix=27\r\n");
    WriteProfileString(path, "Scale", "Prefix", "5");
    EXPECT_EQ(ReadExistingFile(path), old + "[Scale]\r\nPrefix=5\r\n");  // cut to its length
}

TEST_F(IniProfileFolder, AReadOnlyFileIsLeftAloneAndTheErrorSaysWhy) {
    if (!MountProgramFolder()) {
        GTEST_SKIP() << mounts.Why();
    }
    WriteFile(path, old);
    ASSERT_TRUE(mounts.SetReadOnly(program, true)) << mounts.Why();
    try {
        WriteProfileString(path, "Scale", "Prefix", "27");
        ADD_FAILURE() << "a read-only file was written";
    } catch (const StoreError& error) {
        EXPECT_STREQ(error.what(), ("Unable to write to " + path).c_str());
        EXPECT_EQ(error.Reason(), EROFS);
    }
    EXPECT_EQ(ReadExistingFile(path), old);
}

}  // namespace
}  // namespace tallyport
