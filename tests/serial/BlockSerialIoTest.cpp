// Reading, writing, opening and closing a port: shared by both platforms (a pseudo-terminal
// on Linux, one mapped as a COM port under Wine).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "support/PtyLine.h"
#include "support/SerialPlatform.h"

namespace tallyport {
namespace {

using test::PlatformCodes;
using test::PtyLine;
using testing::Clock;
using testing::milliseconds;
using testing::MsSince;

class SerialPortIo : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(line.PortName().empty()); }

    void Open() {
        port.OpenPort(line.PortName());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
        ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    }
    // Sends from the register's side and waits until the bytes are in the port's input queue.
    void Arrive(const std::string& bytes) {
        ASSERT_TRUE(line.SendQueued(bytes, milliseconds(2000)));
    }

    PtyLine line;
    TBlockSerial port;
};

TEST_F(SerialPortIo, NewObjectIsClosedWithItsDefaults) {
    EXPECT_FALSE(port.PortReady());
    EXPECT_FALSE(port.PortLost());
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "");
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.LastErrorText(), "OK");
    EXPECT_EQ(port.IoTimeout(), 30000);
    EXPECT_EQ(port.InQueueSize(), 4096);
    port.SetIoTimeout(250);
    EXPECT_EQ(port.IoTimeout(), 250);
}

TEST_F(SerialPortIo, OpeningDiscardsWhatWaitedOnTheLine) {
    Arrive("stale bytes");
    Open();
    EXPECT_EQ(port.DeviceName(), line.DeviceName());
    EXPECT_EQ(port.PortNumber(), line.PortNumber());
    EXPECT_EQ(line.PortQueued(), 0);
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.OutputCount(), 0);
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialPortIo, SecondOpenIsRefusedAndLeavesThePortWorking) {
    Open();
    PtyLine other;
    port.OpenPort(other.PortName());
    EXPECT_EQ(port.LastErrorCode(), 9992);
    EXPECT_EQ(port.LastErrorText(), "Instance already in use");
    EXPECT_TRUE(port.PortReady());
    EXPECT_EQ(port.DeviceName(), line.DeviceName());

    EXPECT_EQ(port.WriteText("\x0A"
                             "ok\x0D"),
              4);
    EXPECT_EQ(line.Receive(4, milliseconds(1000)),
              "\x0A"
              "ok\x0D");
    Arrive("\x06");
    EXPECT_EQ(port.ReadByte(55), 0x06);
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialPortIo, AnotherObjectCannotTakeAPortInUse) {
    if (test::RunningUnderWine())
        GTEST_SKIP() << "Wine does not enforce the exclusive open of a serial device";
    Open();
    TBlockSerial intruder;
    intruder.OpenPort(line.PortName());
    EXPECT_FALSE(intruder.PortReady());
    EXPECT_EQ(intruder.LastErrorCode(), PlatformCodes().portInUse);
    EXPECT_EQ(intruder.LastErrorText(), TBlockSerial::ErrorText(PlatformCodes().portInUse));

    // The holder is not disturbed.
    EXPECT_EQ(port.WriteText("A"), 1);
    EXPECT_EQ(line.Receive(1, milliseconds(1000)), "A");

    // Once the holder lets go, the port can be taken.
    port.ClosePort();
    intruder.OpenPort(line.PortName());
    EXPECT_TRUE(intruder.PortReady()) << intruder.LastErrorText();
    EXPECT_EQ(intruder.LastErrorCode(), 0);
}

TEST_F(SerialPortIo, EveryByteValueCrossesTheLineUnchanged) {
    Open();
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string link("\x00\x06\x0A\x0D\x11\xFF", 6);

    EXPECT_EQ(port.WriteText(link), 6);
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(line.Receive(6, milliseconds(1000)), link);
    EXPECT_EQ(port.WriteBytes(all.data(), static_cast<int>(all.size())), 256);
    EXPECT_EQ(line.Receive(256, milliseconds(1000)), all);

    // Each byte handed out on its own; a received 0x00 is told from a time-out by the code.
    Arrive(link);
    for (char expected : link) {
        EXPECT_EQ(port.ReadByte(55), static_cast<std::uint8_t>(expected));
        EXPECT_EQ(port.LastErrorCode(), 0);
    }
    Arrive(all);
    std::string got;
    const auto start = Clock::now();
    while (got.size() < all.size() && MsSince(start) < 2000)
        got += port.ReadAvailable(55);
    EXPECT_EQ(got, all);
}

TEST_F(SerialPortIo, TwoBytesArrivingTogetherAreFetchedByOneRead) {
    Open();
    Arrive("\x0A\x0D");
    EXPECT_TRUE(port.HasInput(55));
    EXPECT_EQ(port.ReadByte(55), 0x0A);
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(line.PortQueued(), 0);  // both left the driver's queue in one read

    // The second byte comes from the object's own buffer: even a line that has gone away
    // meanwhile does not matter, and no wait is spent.
    line.HangUp();
    EXPECT_TRUE(port.HasInput(55));
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadByte(1000), 0x0D);
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_LT(MsSince(start), 50);
    EXPECT_FALSE(port.PortLost());
}

TEST_F(SerialPortIo, ReadAvailableHandsOutThePendingBytesFirst) {
    Open();
    Arrive("abc");
    EXPECT_EQ(port.ReadAvailable(0), "abc");
    EXPECT_EQ(port.LastErrorCode(), 0);
    Arrive("xyz");
    EXPECT_EQ(port.ReadByte(0), 'x');
    Arrive("123");
    EXPECT_EQ(port.ReadAvailable(0), "yz");
    EXPECT_EQ(port.ReadAvailable(0), "123");
}

TEST_F(SerialPortIo, WaitsWithoutInputTimeOutAfterAboutTheirTime) {
    Open();
    auto start = Clock::now();
    EXPECT_EQ(port.ReadByte(100), 0);
    long long took = MsSince(start);
    EXPECT_EQ(port.LastErrorCode(), 9997);
    EXPECT_EQ(port.LastErrorText(), "Timeout during operation");
    EXPECT_GE(took, 100);
    EXPECT_LT(took, 600);

    start = Clock::now();
    EXPECT_EQ(port.ReadAvailable(60), "");
    EXPECT_EQ(port.LastErrorCode(), 9997);
    EXPECT_GE(MsSince(start), 60);

    start = Clock::now();
    EXPECT_FALSE(port.HasInput(60));
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_GE(MsSince(start), 60);

    start = Clock::now();
    EXPECT_FALSE(port.WaitForInput(0));
    EXPECT_LT(MsSince(start), 50);

    // A byte that arrives during the wait ends it early.
    std::thread later([this] {
        std::this_thread::sleep_for(milliseconds(80));
        line.Send("\x06");
    });
    start = Clock::now();
    EXPECT_EQ(port.ReadByte(3000), 0x06);
    took = MsSince(start);
    later.join();
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_GE(took, 60);
    EXPECT_LT(took, 1500);
}

TEST_F(SerialPortIo, ReadBytesWaitsForTheWholeCountUpToTheIoTimeout) {
    Open();
    port.SetIoTimeout(3000);
    std::thread sender([this] {
        line.Send("12");
        std::this_thread::sleep_for(milliseconds(60));
        line.Send("345");
    });
    char buffer[8] = {};
    EXPECT_EQ(port.ReadBytes(buffer, 5), 5);
    sender.join();
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(std::string(buffer, 5), "12345");

    port.SetIoTimeout(120);
    Arrive("ab");
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadBytes(buffer, 5), 2);
    EXPECT_GE(MsSince(start), 120);
    EXPECT_EQ(port.LastErrorCode(), 9997);
    EXPECT_EQ(std::string(buffer, 2), "ab");
}

TEST_F(SerialPortIo, WriteThatCannotFinishStopsAtTheIoTimeout) {
    Open();
    port.SetIoTimeout(200);
    const std::string big(1 << 20, 'w');  // far more than the line's buffers hold
    const auto start = Clock::now();
    const int written = port.WriteText(big);
    const long long took = MsSince(start);
    EXPECT_EQ(port.LastErrorCode(), 9997);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
    EXPECT_GE(took, 200);
    EXPECT_LT(took, 2000);
    // Exactly what was reported as written reaches the other side.
    EXPECT_EQ(line.Receive(big.size(), milliseconds(500)), std::string(written, 'w'));
}

TEST_F(SerialPortIo, OperationsOnAClosedPortFailAtOnce) {
    auto checkClosed = [this](const char* when) {
        SCOPED_TRACE(when);
        const auto start = Clock::now();
        EXPECT_EQ(port.ReadByte(1000), 0);
        EXPECT_EQ(port.LastErrorCode(), 9994);
        EXPECT_EQ(port.LastErrorText(), "Instance not yet connected");
        EXPECT_EQ(port.ReadAvailable(1000), "");
        EXPECT_EQ(port.LastErrorCode(), 9994);
        EXPECT_EQ(port.WriteText("x"), 0);
        EXPECT_EQ(port.LastErrorCode(), 9994);
        char b = 'x';
        EXPECT_EQ(port.WriteBytes(&b, 1), 0);
        EXPECT_EQ(port.LastErrorCode(), 9994);
        EXPECT_EQ(port.ReadBytes(&b, 1), 0);
        EXPECT_EQ(port.LastErrorCode(), 9994);
        EXPECT_FALSE(port.WaitForInput(1000));
        EXPECT_FALSE(port.HasInput(1000));
        EXPECT_FALSE(port.WaitOutputDrained(1000));
        EXPECT_EQ(port.InputCount(), 0);
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().notOpen);
        EXPECT_EQ(port.OutputCount(), 0);
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().notOpen);
        port.DiscardAll();
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().notOpen);
        port.LoadPortState();
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().notOpen);
        port.ApplyPortState();
        EXPECT_EQ(port.LastErrorCode(), PlatformCodes().notOpen);
        EXPECT_LT(MsSince(start), 200);
        // Closing a closed object only resets its fields.
        port.ClosePort();
        EXPECT_EQ(port.LastErrorCode(), 0);
        EXPECT_FALSE(port.PortReady());
        EXPECT_EQ(port.PortNumber(), -1);
    };
    checkClosed("never opened");

    Open();
    Arrive("left over");
    EXPECT_EQ(port.ReadByte(0), 'l');  // the rest stays pending in the object
    port.ClosePort();
    EXPECT_EQ(port.LastErrorCode(), 0);
    checkClosed("after ClosePort");
}

TEST_F(SerialPortIo, ClosingDiscardsTheQueuesAndFreesThePort) {
    Open();
    Arrive("unread");
    port.ClosePort();
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(line.PortQueued(), 0);

    // Open again: the object works as before and nothing of the old input shows up.
    Open();
    EXPECT_FALSE(port.HasInput(0));
    Arrive("new");
    EXPECT_EQ(port.ReadAvailable(55), "new");
}

TEST_F(SerialPortIo, DiscardsDropWhatCameBeforeAndKeepWhatComesAfter) {
    for (void (TBlockSerial::*discard)() :
         {&TBlockSerial::DiscardAll, &TBlockSerial::DiscardInput}) {
        Open();
        Arrive("abc");
        EXPECT_EQ(port.ReadByte(0), 'a');  // "bc" now waits in the port's own buffer
        Arrive("def");
        (port.*discard)();
        EXPECT_EQ(port.LastErrorCode(), 0);
        EXPECT_FALSE(port.HasInput(0));
        EXPECT_EQ(line.PortQueued(), 0);
        EXPECT_EQ(port.ReadByte(10), 0);
        EXPECT_EQ(port.LastErrorCode(), 9997);
        Arrive("g");
        EXPECT_EQ(port.ReadAvailable(55), "g");

        // A byte that a wait saw arrive (and that a port may already have fetched to tell it)
        // is input like any other: a discard drops it.
        std::thread later([this] {
            std::this_thread::sleep_for(milliseconds(30));
            line.Send("h");
        });
        EXPECT_TRUE(port.WaitForInput(2000));
        later.join();
        EXPECT_EQ(port.InputCount(), 1);
        (port.*discard)();
        EXPECT_FALSE(port.HasInput(0));
        EXPECT_EQ(port.InputCount(), 0);
        port.ClosePort();
        (port.*discard)();
        EXPECT_NE(port.LastErrorCode(), 0);
    }
}

TEST_F(SerialPortIo, ModemLinesOfAPseudoTerminalAreReportedNotFatal) {
    Open();
    // A pseudo-terminal has no modem lines (ENOTTY on Linux; under Wine a failure without a
    // code of its own, or ERROR_NOT_SUPPORTED).
    port.SetDtr(true);
    EXPECT_NE(port.LastErrorCode(), 0);
    EXPECT_EQ(port.LastErrorText(), TBlockSerial::ErrorText(port.LastErrorCode()));
    port.SetRts(false);
    EXPECT_NE(port.LastErrorCode(), 0);
    EXPECT_TRUE(port.PortReady());
    EXPECT_EQ(port.WriteText("ok"), 2);
    EXPECT_EQ(port.LastErrorCode(), 0);
}

}  // namespace
}  // namespace tallyport
