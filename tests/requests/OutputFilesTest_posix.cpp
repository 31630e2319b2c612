// Appends on POSIX: a write the kernel takes only in part (a file size limit) is taken back
// whole, and a FIFO without a reader fails at once instead of stopping the worker.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "TestFiles.h"
#include "requests/OutputFiles.h"
#include "requests/RequestError.h"

namespace tallyport {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

// A file-size limit makes the kernel accept part of the write and refuse the rest (EFBIG).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    sighandler_t previousHandler_{};
};

TEST(OutputFiles, AWriteThatStopsMidwayIsTakenBackWhole) {
    TempFolder folder;
    std::string path = folder.File("Tran.txt");
    WriteFile(path, "0123456789\r\n");
    {
        FileSizeLimit limit(40);
        EXPECT_THROW(AppendLinesToFile(path, {std::string(20, 'a'), std::string(20, 'b')}),
                     RequestError);
        // Whatever fits the limit still goes out whole.
        AppendLinesToFile(path, {"short"});
    }
    EXPECT_EQ(ReadFile(path), "0123456789\r\nshort\r\n");
}

TEST(OutputFiles, AFifoWithoutReaderFailsAtOnce) {
    TempFolder folder;
    std::string fifo = folder.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(AppendLinesToFile(fifo, {"line"}), RequestError);
}

}  // namespace
}  // namespace tallyport
