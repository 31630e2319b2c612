// What only POSIX descriptors show: a closed port's descriptor number reused by another file
// is never touched, and other users are kept out while the port is open. (Windows has neither:
// a handle is not a reused number, and a COM port opens exclusively.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "support/PtyLine.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using test::PtyLine;
using test::TempFolder;
using testing::milliseconds;
using testing::WaitUntil;

// The descriptors of this process that lead to `path`.
std::vector<int> DescriptorsOf(const std::string& path) {
    std::vector<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(entry.path(), ec);
        const int fd = std::stoi(entry.path().filename().string());
        if (!ec && target == path)
            found.push_back(fd);
    }
    return found;
}

TEST(SerialPortPosix, AReusedDescriptorNumberIsNeverTouched) {
    TempFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        PtyLine line;
        TBlockSerial port;
        const std::vector<int> before = DescriptorsOf(line.PortName());
        port.OpenPort(line.PortName());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
        port.SetIoTimeout(5);
        std::vector<int> held = DescriptorsOf(line.PortName());
        std::erase_if(held, [&before](int fd) {
            return std::find(before.begin(), before.end(), fd) != before.end();
        });
        ASSERT_EQ(held.size(), 1u);
        const int portFd = held[0];

        // The worker keeps using the port the way the link does, with short waits.
        std::atomic<bool> stop{false};
        std::atomic<int> refusedAfterClose{0};
        std::atomic<bool> closed{false};
        std::thread worker([&] {
            while (!stop.load()) {
                char byte = 0;
                if (port.HasInput(5))
                    port.ReadByte(5);
                port.ReadAvailable(5);
                port.WaitForInput(5);
                port.ReadBytes(&byte, 1);
                port.InputCount();
                port.OutputCount();
                port.WaitOutputDrained(0);
                port.WriteText("P");
                port.DiscardAll();
                if (closed.load() && port.ReadByte(5) == 0 && port.LastErrorCode() == 9994) {
                    ++refusedAfterClose;
                }
            }
        });
        std::this_thread::sleep_for(milliseconds(20 + 10 * round));
        port.ClosePort();
        closed = true;

        // Another file takes the very number the port had.
        const auto path = dir.Path() / ("other-" + std::to_string(round));
        std::ofstream(path) << "back-office data";
        const int file = open(path.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(file, 0);
        if (file != portFd) {
            ASSERT_EQ(dup2(file, portFd), portFd);
            close(file);
        }

        ASSERT_TRUE(WaitUntil([&] { return refusedAfterClose.load() >= 20; }, milliseconds(3000)));
        stop = true;
        worker.join();

        EXPECT_EQ(lseek(portFd, 0, SEEK_CUR), 0) << "the port object read or wrote the file";
        close(portFd);
        std::ifstream in(path);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(content, "back-office data");
    }
}

// Opens `path` in a child process running as an unprivileged user; gives 0 or the errno.
int OpenAsUnprivilegedUser(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(255);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SerialPortPosix, OtherUsersAreKeptOutOnlyWhileThePortIsOpen) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a child as another user";
    PtyLine line;
    ASSERT_EQ(chmod(line.PortName().c_str(), 0666), 0);
    TBlockSerial port;
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    EXPECT_EQ(OpenAsUnprivilegedUser(line.PortName()), EBUSY);
    port.ClosePort();
    EXPECT_EQ(OpenAsUnprivilegedUser(line.PortName()), 0);
}

}  // namespace
}  // namespace tallyport
