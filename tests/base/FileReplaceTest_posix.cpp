#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>

#include "base/FileReplace.h"
#include "support/ScratchMount.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using test::ReadFile;
using test::WriteFile;

struct stat StatOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

class FileReplace : public ::testing::Test {
protected:
    test::TempFolder dir;
    test::ScratchMounts mounts;  // after the folder: undone before it is removed
};

TEST_F(FileReplace, ANewFileIsCreatedAndAnOldOneReplacedWithNothingLeftBeside) {
    const std::string path = dir.File("ECRs.dat");
    ReplaceOutcome outcome = ReplaceFile(path, "1,A\r\n");
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    EXPECT_EQ(ReadFile(path), "1,A\r\n");
    const ino_t first = StatOf(path).st_ino;

    outcome = ReplaceFile(path, std::string("2,B\xE9\r\n"));
    ASSERT_TRUE(outcome.Ok());
    EXPECT_FALSE(outcome.inPlace);
    EXPECT_EQ(ReadFile(path), "2,B\xE9\r\n");
    EXPECT_NE(StatOf(path).st_ino, first);  // a new file took the old one's place whole
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"ECRs.dat"});
}

TEST_F(FileReplace, TheFileKeepsItsModeAndOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another owner needs root";
    }
    const std::string path = dir.File("Tallyport.ini");
    WriteFile(path, "old");
    ASSERT_EQ(::chown(path.c_str(), 1234, 2345), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(ReplaceFile(path, "new").Ok());
    const struct stat after = StatOf(path);
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, 1234u);
    EXPECT_EQ(after.st_gid, 2345u);
}

// Makes every chown-family call of this process fail with EPERM, as the service unit's system
// call filter does; the calling thread only (run it in a child process). False when the kernel
// refuses the filter.
bool RefuseChown() {
    const sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchown, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fchownat, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_chown, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
    };
    const sock_fprog filter{static_cast<unsigned short>(std::size(program)),
                            const_cast<sock_filter*>(program)};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

TEST_F(FileReplace, AServiceThatMayNotChownStillReplacesItsOwnFilesWhole) {
    const std::string path = dir.File("Tallyport.ini");
    WriteFile(path, "old");
    const ino_t before = StatOf(path).st_ino;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!RefuseChown()) {
            ::_exit(2);
        }
        const ReplaceOutcome outcome = ReplaceFile(path, "new");
        ::_exit(outcome.Ok() && !outcome.inPlace ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 2) << "the kernel refused the system call filter";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "written in place instead of replaced";
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_NE(StatOf(path).st_ino, before);
}

TEST_F(FileReplace, ALinkIsFollowedAndStaysALink) {
    const std::string real = dir.File("real.dat");
    const std::string link = dir.File("link.dat");
    WriteFile(real, "old");
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(ReplaceFile(link, "new").Ok());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "new");
}

TEST_F(FileReplace, AFolderOrAMissingFolderIsRefusedAtCreation) {
    ReplaceOutcome outcome = ReplaceFile(dir.Path().string(), "x");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, EISDIR);
    outcome = ReplaceFile(dir.File("no/such.dat"), "x");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, ENOENT);
    EXPECT_EQ(ReplaceFile("", "x").failed, ReplaceOutcome::Step::Create);
}

TEST_F(FileReplace, AFileThatMayNotBeWrittenIsNotReplaced) {
    const std::string shop = dir.File("shop");
    std::filesystem::create_directory(shop);
    if (!mounts.MountTmpfs(shop)) {
        GTEST_SKIP() << mounts.Why();
    }
    const std::string path = shop + "/ECRs.dat";
    WriteFile(path, "1,A\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const ino_t inode = StatOf(path).st_ino;
    ASSERT_TRUE(mounts.SetReadOnly(shop, true)) << mounts.Why();

    const ReplaceOutcome outcome = ReplaceFile(path, "2,B\r\n");
    EXPECT_EQ(outcome.failed, ReplaceOutcome::Step::Create);
    EXPECT_EQ(outcome.error, EROFS);
    EXPECT_EQ(ErrorText(outcome.error), "Read-only file system");
    EXPECT_EQ(ReadFile(path), "1,A\r\n");
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0444u);
    EXPECT_EQ(test::NamesIn(shop), std::vector<std::string>{"ECRs.dat"});
    // Nor is a new file made in a folder that refuses it.
    EXPECT_EQ(ReplaceFile(shop + "/Bon.txt", "x").failed, ReplaceOutcome::Step::Create);
}

TEST_F(FileReplace, AFolderThatRefusesNewFilesGetsItsWritableFileWrittenInPlace) {
    const std::string program = dir.File("program");
    const std::string elsewhere = dir.File("elsewhere");
    std::filesystem::create_directory(program);
    std::filesystem::create_directory(elsewhere);
    if (!mounts.MountTmpfs(program) || !mounts.MountTmpfs(elsewhere)) {
        GTEST_SKIP() << mounts.Why();
    }
    // The file stays writable while its folder becomes read-only.
    const std::string path = program + "/Tallyport.ini";
    WriteFile(path, "");
    WriteFile(elsewhere + "/Tallyport.ini", "[Files]\r\nPLU=PLU.txt\r\nECRList=ECRs.dat\r\n");
    ASSERT_EQ(::chmod((elsewhere + "/Tallyport.ini").c_str(), 0604), 0);
    ASSERT_TRUE(mounts.BindFile(elsewhere + "/Tallyport.ini", path)) << mounts.Why();
    ASSERT_TRUE(mounts.SetReadOnly(program, true)) << mounts.Why();
    const ino_t inode = StatOf(path).st_ino;

    const ReplaceOutcome outcome = ReplaceFile(path, "[Files]\r\nPLU=A.txt\r\n");
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    EXPECT_TRUE(outcome.inPlace);
    EXPECT_EQ(ReadFile(path), "[Files]\r\nPLU=A.txt\r\n");  // cut to the new length
    EXPECT_EQ(StatOf(path).st_ino, inode);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0604u);
}

TEST_F(FileReplace, AFileBoundInPlaceOfItsNameIsWrittenWhereItIs) {
    const std::string config = dir.File("config");
    const std::string outside = dir.File("outside");
    std::filesystem::create_directory(config);
    std::filesystem::create_directory(outside);
    if (!mounts.MountTmpfs(outside)) {
        GTEST_SKIP() << mounts.Why();
    }
    // The folder takes new files, but the name is a mount point: no file can be renamed over it.
    const std::string path = config + "/Tallyport.ini";
    WriteFile(path, "");
    WriteFile(outside + "/Tallyport.ini", "[Scale]\r\nPrefix=24\r\n");
    ASSERT_TRUE(mounts.BindFile(outside + "/Tallyport.ini", path)) << mounts.Why();

    const ReplaceOutcome outcome = ReplaceFile(path, "[Scale]\r\nPrefix=5\r\n");
    ASSERT_TRUE(outcome.Ok()) << ErrorText(outcome.error);
    EXPECT_TRUE(outcome.inPlace);
    EXPECT_EQ(ReadFile(outside + "/Tallyport.ini"), "[Scale]\r\nPrefix=5\r\n");
    EXPECT_EQ(test::NamesIn(config), std::vector<std::string>{"Tallyport.ini"});
}

}  // namespace
}  // namespace tallyport
