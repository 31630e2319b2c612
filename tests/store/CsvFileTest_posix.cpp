// Table saves on POSIX: a write that fails half-way (a file size limit) and a save through a
// link that keeps the file's mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "TableTestSupport.h"

namespace tallyport {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using testing::ErrorOf;
using testing::MakeSixColumnTable;
using testing::OpenDescriptorCount;

// Limits the size of files this process may write, for one scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);  // writes beyond it fail with EFBIG instead
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    sighandler_t oldHandler_;
};

TEST(TableFileSave, AWriteFailingMidwayLeavesThePreviousFileWhole) {
    TempFolder dir;
    const std::string path = dir.File("ECRs.dat");
    const std::string previous = "1,Datecs MP55,9600,8,None,1,COM1,DA00000001,CASA 1\r\n";
    WriteFile(path, previous);
    auto table = MakeSixColumnTable();
    for (int i = 0; i < 50; ++i) {
        table->Append();
        table->SetFromText(0, std::to_string(i));
        table->SetFromText(5, std::string(40, 'x'));
        table->Post();
    }
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        expected += std::to_string(i) + ",,,,," + std::string(40, 'x') + "\r\n";
    }
    const int before = OpenDescriptorCount();
    std::string error;
    {
        FileSizeLimit limit(1000);
        error = ErrorOf([&] { SaveTableToFile(*table, path); });
    }
    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(ReadFile(path), previous);
    EXPECT_EQ(OpenDescriptorCount(), before);
    // The partly written new file is gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    SaveTableToFile(*table, path);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(TableFileSave, ASaveKeepsALinkAndThePermissions) {
    TempFolder dir;
    const std::string real = dir.File("real.dat");
    const std::string link = dir.File("link.dat");
    WriteFile(real, "old\r\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, link);
    auto table = MakeSixColumnTable();
    table->Append();
    table->SetFromText(0, "NEW");
    table->Post();
    SaveTableToFile(*table, link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "NEW,,,,,\r\n");
    struct stat info;
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace tallyport
