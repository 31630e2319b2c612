// Closing the port from another thread and losing the line: shared by both platforms (a
// pseudo-terminal on Linux, one mapped as a COM port under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "support/FakeLineStatus.h"
#include "support/PtyLine.h"
#include "support/SerialPlatform.h"

namespace tallyport {
namespace {

using test::FakeLineState;
using test::FakeLineStatus;
using test::PlatformCodes;
using test::PtyLine;
using testing::Clock;
using testing::milliseconds;
using testing::MsSince;
using testing::ThreadCpuMs;
using testing::WaitUntil;

// Checks that `port` fails at once as a closed object does.
void ExpectClosed(TBlockSerial& port) {
    const auto start = Clock::now();
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.ReadByte(1000), 0);
    EXPECT_EQ(port.LastErrorCode(), 9994);
    EXPECT_EQ(port.ReadAvailable(1000), "");
    EXPECT_EQ(port.LastErrorCode(), 9994);
    EXPECT_EQ(port.WriteText("x"), 0);
    EXPECT_EQ(port.LastErrorCode(), 9994);
    EXPECT_FALSE(port.WaitForInput(1000));
    EXPECT_FALSE(port.HasInput(1000));
    EXPECT_FALSE(port.WaitOutputDrained(1000));
    EXPECT_LT(MsSince(start), 200);
}

struct BlockingCall {
    const char* name;
    // Runs the operation with a long wait; true if it reported success.
    std::function<bool(TBlockSerial&)> run;
};

const std::vector<BlockingCall>& BlockingCalls() {
    static const std::vector<BlockingCall> calls = {
        {"ReadByte", [](TBlockSerial& p) { return p.ReadByte(3000) != 0; }},
        {"ReadAvailable", [](TBlockSerial& p) { return !p.ReadAvailable(3000).empty(); }},
        {"WaitForInput", [](TBlockSerial& p) { return p.WaitForInput(3000); }},
        {"HasInput", [](TBlockSerial& p) { return p.HasInput(3000); }},
        {"WaitOutputDrained", [](TBlockSerial& p) { return p.WaitOutputDrained(3000); }},
        {"ReadBytes",
         [](TBlockSerial& p) {
             char buffer[16];
             return p.ReadBytes(buffer, sizeof buffer) == sizeof buffer;
         }},
        {"WriteText",
         [](TBlockSerial& p) {
             const std::string big(1 << 20, 'w');  // fills the line's buffers, then waits
             return p.WriteText(big) == static_cast<int>(big.size());
         }},
    };
    return calls;
}

// The shell's thread stops a worker within 50 ms: every blocking operation ends at the close,
// not at its own time-out (3 s here) nor at the next turn of a polling loop. Each wait is
// bounded with slack for a loaded machine; the median of all of them holds the 50 ms.
TEST(SerialPortClose, ClosingFromAnotherThreadEndsAWaitPromptly) {
    std::vector<long long> wakes;
    for (const BlockingCall& call : BlockingCalls()) {
        SCOPED_TRACE(call.name);
        PtyLine line;
        TBlockSerial port;
        port.OpenPort(line.PortName());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
        auto state = std::make_shared<FakeLineState>();
        state->outputQueue = 64;  // never drains
        port.SetLineStatusProbe(std::make_unique<FakeLineStatus>(state));

        std::atomic<bool> finished{false};
        bool succeeded = true;
        Clock::time_point returnedAt;
        std::thread worker([&] {
            succeeded = call.run(port);
            returnedAt = Clock::now();
            finished = true;
        });
        std::this_thread::sleep_for(milliseconds(150));
        EXPECT_FALSE(finished.load()) << "the operation did not wait";

        const auto closeStart = Clock::now();
        port.ClosePort();
        const long long closeTook = MsSince(closeStart);
        worker.join();
        const long long wokeAfter =
            std::chrono::duration_cast<milliseconds>(returnedAt - closeStart).count();
        wakes.push_back(wokeAfter);

        EXPECT_FALSE(succeeded);
        EXPECT_LT(wokeAfter, 250);  // typically well under a millisecond
        EXPECT_LT(closeTook, 250);
        EXPECT_EQ(port.LastErrorCode(), 9994);
        ExpectClosed(port);
    }
    ASSERT_FALSE(wakes.empty());
    std::sort(wakes.begin(), wakes.end());
    EXPECT_LT(wakes[wakes.size() / 2], 50) << "median wake-up after the close, ms";
}

TEST(SerialPortClose, StateCanBeWatchedFromAnotherThread) {
    PtyLine line;
    TBlockSerial port;
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();

    // The shell reads the outcome while the worker runs and while the port is being closed.
    std::atomic<bool> stop{false};
    std::set<std::string> texts;
    std::thread watcher([&] {
        while (!stop.load()) {
            texts.insert(port.LastErrorText());
            (void)port.LastErrorCode();
            (void)port.PortReady();
            (void)port.PortLost();
            (void)port.PortNumber();
            (void)port.IoTimeout();
        }
    });
    std::thread worker([&] {
        while (port.PortReady()) {
            port.ReadByte(2);
            port.WriteText("\x11");
        }
        port.ReadByte(2);
    });
    std::this_thread::sleep_for(milliseconds(100));
    port.ClosePort();
    worker.join();
    std::this_thread::sleep_for(milliseconds(10));
    stop = true;
    watcher.join();

    const std::set<std::string> possible = {"OK", "Timeout during operation",
                                            "Instance not yet connected"};
    for (const std::string& text : texts)
        EXPECT_TRUE(possible.count(text)) << text;
    EXPECT_TRUE(texts.count("Instance not yet connected"));
}

TEST(SerialPortHangUp, AWaitInProgressEndsWhenTheLineGoesAway) {
    PtyLine line;
    TBlockSerial port;
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();

    std::uint8_t byte = 0xEE;
    Clock::time_point returnedAt;
    std::thread worker([&] {
        byte = port.ReadByte(3000);
        returnedAt = Clock::now();
    });
    std::this_thread::sleep_for(milliseconds(150));
    const auto hangUp = Clock::now();
    line.HangUp();
    worker.join();
    EXPECT_EQ(byte, 0);
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(returnedAt - hangUp).count(), 250);
    EXPECT_TRUE(port.PortLost());
    EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
    EXPECT_EQ(port.LastErrorText(), TBlockSerial::ErrorText(PlatformCodes().deviceGone));
    EXPECT_TRUE(port.PortReady());  // still open until its owner closes it
}

TEST(SerialPortHangUp, LaterWaitsFailAtOnceAndNeverReportInput) {
    PtyLine line;
    TBlockSerial port;
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    line.HangUp();

    const auto start = Clock::now();
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(port.HasInput(2000));
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
        EXPECT_FALSE(port.WaitForInput(2000));
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
        EXPECT_EQ(port.ReadByte(2000), 0);
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
        EXPECT_EQ(port.ReadAvailable(2000), "");
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
        EXPECT_FALSE(port.WaitOutputDrained(2000));
        EXPECT_EQ(port.WriteText("x"), 0);
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
    }
    EXPECT_LT(MsSince(start), 300);
    EXPECT_TRUE(port.PortLost());

    // The owner closes the port; the object is reusable on another line.
    port.ClosePort();
    EXPECT_FALSE(port.PortLost());
    EXPECT_EQ(port.LastErrorCode(), 0);
    PtyLine next;
    port.OpenPort(next.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    EXPECT_FALSE(port.PortLost());
    next.Send("\x0A");
    EXPECT_EQ(port.ReadByte(1000), 0x0A);
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST(SerialPortHangUp, AReceptionLoopNeitherSpinsNorSeesPhantomInput) {
    PtyLine line;
    TBlockSerial port;
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();

    std::thread hangUp([&] {
        std::this_thread::sleep_for(milliseconds(300));
        line.HangUp();
    });
    // For one second, the link's reception pattern, stopping once the port says it is lost.
    int phantomInput = 0;
    int rounds = 0;
    const double cpuStart = ThreadCpuMs();
    const auto start = Clock::now();
    while (MsSince(start) < 1000 && !port.PortLost()) {
        ++rounds;
        if (port.HasInput(55)) {
            ++phantomInput;
            port.ReadByte(55);
        }
    }
    const double cpuUsed = ThreadCpuMs() - cpuStart;
    const long long took = MsSince(start);
    hangUp.join();

    EXPECT_TRUE(port.PortLost());
    EXPECT_EQ(phantomInput, 0);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 800);
    EXPECT_LT(rounds, 50);  // each round waited its 55 ms until the hang-up
    EXPECT_LT(cpuUsed, 150.0) << "ms of CPU in " << took << " ms";
}

}  // namespace
}  // namespace tallyport
