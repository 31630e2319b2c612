#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/FileIo.h"
#include "base/UniqueFd.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

TEST(FileIo, FolderOfAPath) {
    EXPECT_EQ(FolderOf("Bon.txt"), ".");
    EXPECT_EQ(FolderOf("/Bon.txt"), "/");
    EXPECT_EQ(FolderOf("/srv/bo/Bon.txt"), "/srv/bo");
    EXPECT_EQ(FolderOf("bo/Bon.txt"), "bo");
}

TEST(FileIo, WriteAllWritesEveryByteOrSaysWhyNot) {
    test::TempFolder folder;
    const std::string path = folder.File("out.txt");
    std::string bytes;
    for (int i = 0; i < 300000; ++i) {
        bytes += static_cast<char>(i % 251);
    }
    {
        UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(file.Valid());
        EXPECT_TRUE(WriteAll(file.Get(), bytes));
        EXPECT_TRUE(WriteAll(file.Get(), ""));
    }
    EXPECT_EQ(test::ReadFile(path), bytes);

    UniqueFd readOnly(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(readOnly.Valid());
    errno = 0;
    EXPECT_FALSE(WriteAll(readOnly.Get(), "x"));
    EXPECT_EQ(errno, EBADF);

    // A full pipe that never empties: the write fails at once instead of spinning.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    errno = 0;
    EXPECT_FALSE(WriteAll(writeEnd.Get(), std::string(1 << 20, 'y')));
    EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
}  // namespace tallyport
