// The driver's side of the port through the line-status probe: a busy output queue, a failing
// query, receive-line errors. Shared by both platforms.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

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

class SerialLineStatus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(line.PortName().empty());
        port.OpenPort(line.PortName());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
        port.SetLineStatusProbe(std::make_unique<FakeLineStatus>(driver));
    }
    void Arrive(const std::string& bytes) {
        ASSERT_TRUE(line.SendQueued(bytes, milliseconds(2000)));
    }
    LineErrorCounters& Counters() { return *driver->counters; }

    PtyLine line;
    TBlockSerial port;
    std::shared_ptr<FakeLineState> driver = std::make_shared<FakeLineState>();
};

TEST_F(SerialLineStatus, BusyOutputQueueIsAnsweredWithoutWaiting) {
    driver->outputQueue = 12;
    EXPECT_EQ(port.OutputCount(), 12);
    EXPECT_EQ(port.LastErrorCode(), 0);

    auto start = Clock::now();
    EXPECT_FALSE(port.WaitOutputDrained(0));
    EXPECT_LT(MsSince(start), 20);
    EXPECT_EQ(port.LastErrorCode(), 0);

    // Still busy after the whole wait.
    start = Clock::now();
    EXPECT_FALSE(port.WaitOutputDrained(150));
    EXPECT_GE(MsSince(start), 150);
    EXPECT_LT(MsSince(start), 1000);

    // Drains during the wait.
    driver->busyUntil = Clock::now() + milliseconds(100);
    start = Clock::now();
    EXPECT_TRUE(port.WaitOutputDrained(3000));
    EXPECT_GE(MsSince(start), 90);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(port.LastErrorCode(), 0);

    // An empty queue is answered from the count alone.
    driver->outputQueue = 0;
    driver->busyUntil.reset();
    const int queries = driver->outputQueries.load();
    EXPECT_TRUE(port.WaitOutputDrained(0));
    EXPECT_EQ(driver->outputQueries.load(), queries + 1);
}

TEST_F(SerialLineStatus, FailedOutputQueryGivesThePlatformError) {
    const int refused = PlatformCodes().queryRefused;
    driver->queryFails = true;
    driver->queryError = refused;
    EXPECT_EQ(port.OutputCount(), 0);
    EXPECT_EQ(port.LastErrorCode(), refused);
    EXPECT_FALSE(port.WaitOutputDrained(100));
    EXPECT_EQ(port.LastErrorCode(), refused);
    EXPECT_FALSE(port.PortLost());

    // An error that says the device has left (EIO; ERROR_BAD_COMMAND from a pulled USB
    // adapter on Windows) makes the port lost, with the platform's one code for that.
    driver->queryError = PlatformCodes().queryGone;
    EXPECT_EQ(port.OutputCount(), 0);
    EXPECT_EQ(port.LastErrorCode(), PlatformCodes().deviceGone);
    EXPECT_TRUE(port.PortLost());
}

TEST_F(SerialLineStatus, ReceiveErrorsAreReportedAfterTheReadThatSawThem) {
    Arrive("AB");
    Counters().frame = 1;
    Counters().parity = 1;
    EXPECT_EQ(port.ReadByte(100), 0);
    EXPECT_EQ(port.LastErrorCode(), 10002);  // parity is tested after framing and wins
    EXPECT_EQ(port.LastErrorText(), "Receive Parity Error");
    // The bytes read with the error stay pending and come out in order.
    EXPECT_TRUE(port.HasInput(0));
    EXPECT_EQ(port.ReadByte(100), 'A');
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.ReadByte(100), 'B');
    EXPECT_EQ(port.LastErrorCode(), 0);

    struct Step {
        const char* what;
        void (*bump)(LineErrorCounters&);
        int code;
        const char* text;
    };
    const Step steps[] = {
        {"framing", [](LineErrorCounters& c) { ++c.frame; }, 9999, "Receive framing error"},
        {"overrun", [](LineErrorCounters& c) { ++c.overrun; }, 10000, "Receive Overrun Error"},
        {"queue overflow", [](LineErrorCounters& c) { ++c.bufferOverrun; }, 10001,
         "Receive Queue overflow"},
        {"framing and overrun",
         [](LineErrorCounters& c) {
             ++c.frame;
             ++c.overrun;
         },
         10000, "Receive Overrun Error"},
        {"overrun and overflow",
         [](LineErrorCounters& c) {
             ++c.overrun;
             c.bufferOverrun += 3;
         },
         10001, "Receive Queue overflow"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Arrive("C");
        step.bump(Counters());
        EXPECT_EQ(port.ReadAvailable(100), "C");
        EXPECT_EQ(port.LastErrorCode(), step.code);
        EXPECT_EQ(port.LastErrorText(), step.text);
    }

    // Counters that did not move report nothing, and an error is reported only once.
    Arrive("D");
    EXPECT_EQ(port.ReadByte(100), 'D');
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialLineStatus, ErrorsSeenBeforeAWaitAreNotLost) {
    // A count taken while waiting does not swallow the error of the bytes it counted.
    Counters().frame = 4;
    Arrive("E");
    EXPECT_EQ(port.InputCount(), 1);
    EXPECT_TRUE(port.WaitForInput(0));
    EXPECT_EQ(port.ReadByte(100), 0);
    EXPECT_EQ(port.LastErrorCode(), 9999);
    EXPECT_EQ(port.ReadByte(100), 'E');
}

TEST_F(SerialLineStatus, WritesReportReceiveErrorsToo) {
    Counters().parity = 7;
    EXPECT_EQ(port.WriteText("\x06"), 1);
    EXPECT_EQ(port.LastErrorCode(), 10002);
    EXPECT_EQ(line.Receive(1, milliseconds(1000)), "\x06");
    EXPECT_EQ(port.WriteText("\x06"), 1);
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialLineStatus, ALineErrorDuringAWriteNeitherShortensItNorHidesItsCount) {
    // 96 characters at the line's 9600 baud 8N1 are 100 ms on the wire. Noise on the input
    // while they go out is reported beside the count; the write still keeps its time on the
    // wire, so a wait for the answer that follows starts when the last byte is out.
    const std::string bytes(96, 'x');
    driver->ErrorDuringWrite(test::LineErrorKind::Framing, 96);
    auto start = Clock::now();
    EXPECT_EQ(port.WriteText(bytes), 96);
    EXPECT_GE(MsSince(start), 99);
    EXPECT_EQ(driver->ScriptedErrorsCounted(), 1);
    EXPECT_EQ(port.LastLineError(), 9999);
    EXPECT_EQ(port.LastErrorCode(), 9999);  // as the port has always reported it
    EXPECT_EQ(line.Receive(96, milliseconds(2000)), bytes);
    // The next operation that sees none clears it.
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.LastLineError(), 0);

    // A driver whose queue drains only after 150 ms: the write with the error still waits.
    driver->outputQueue = 20;
    driver->busyUntil = Clock::now() + milliseconds(150);
    driver->ErrorDuringWrite(test::LineErrorKind::Overrun, 5);
    start = Clock::now();
    EXPECT_EQ(port.WriteText("abcde"), 5);
    EXPECT_GE(MsSince(start), 145);
    EXPECT_EQ(port.LastLineError(), 10000);
    EXPECT_EQ(line.Receive(5, milliseconds(2000)), "abcde");
    driver->outputQueue = 0;
    driver->busyUntil.reset();

    // A read keeps its bytes too: ReadByte gives 0 for the read that saw the error, with the
    // error beside it, and the bytes come next.
    Arrive("Z");
    Counters().parity += 1;
    EXPECT_EQ(port.ReadByte(100), 0);
    EXPECT_EQ(port.LastLineError(), 10002);
    EXPECT_EQ(port.ReadByte(100), 'Z');
    EXPECT_EQ(port.LastLineError(), 0);
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialLineStatus, DroppedInputTakesTheLineErrorsCountedWithIt) {
    Arrive("old");
    Counters().frame += 1;
    port.DiscardInput();
    EXPECT_EQ(port.LastLineError(), 0);
    Arrive("N");
    EXPECT_EQ(port.ReadByte(100), 'N');
    EXPECT_EQ(port.LastLineError(), 0) << "an error of dropped bytes was laid on new ones";
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialLineStatus, AnErrorThatCameWithBytesDuringAWaitGoesWithThoseBytes) {
    // The register's bytes come while the port waits, and the driver counts a framing error
    // with them: the read that they end reports it beside them, once.
    std::atomic<bool> arriving{false};
    driver->ErrorWhen(test::LineErrorKind::Framing, [&arriving] { return arriving.load(); });
    std::thread far([&] {
        std::this_thread::sleep_for(milliseconds(50));
        arriving = true;  // before the bytes: no query after them can miss it
        line.Send("AB");
    });
    EXPECT_EQ(port.ReadByte(2000), 0);
    far.join();
    EXPECT_EQ(port.LastLineError(), 9999);
    EXPECT_EQ(driver->ScriptedErrorsCounted(), 1);
    EXPECT_EQ(port.ReadByte(500), 'A');
    EXPECT_EQ(port.LastLineError(), 0);
    EXPECT_EQ(port.ReadByte(500), 'B');
    EXPECT_EQ(port.LastLineError(), 0);

    // Bytes whose arrival ended a wait (on Windows the wait has read the first of them) are
    // dropped with the error counted with them.
    arriving = false;
    driver->ErrorWhen(test::LineErrorKind::Overrun, [&arriving] { return arriving.load(); });
    far = std::thread([&] {
        std::this_thread::sleep_for(milliseconds(50));
        arriving = true;
        line.Send("CD");
    });
    EXPECT_TRUE(port.WaitForInput(2000));
    far.join();
    ASSERT_TRUE(testing::WaitUntil([&] { return port.InputCount() == 2; }, milliseconds(2000)));
    EXPECT_EQ(port.LastLineError(), 0);  // a count reports none: errors go with reads
    port.DiscardInput();
    EXPECT_EQ(driver->ScriptedErrorsCounted(), 2);
    EXPECT_EQ(port.LastLineError(), 0);
    EXPECT_EQ(port.InputCount(), 0);
    Arrive("E");
    EXPECT_EQ(port.ReadByte(500), 'E');
    EXPECT_EQ(port.LastLineError(), 0) << "an error of dropped bytes was laid on new ones";
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialLineStatus, TimeoutIsOverwrittenByALineError) {
    port.SetIoTimeout(50);
    Arrive("xy");
    Counters().overrun = 1;
    char buffer[4];
    EXPECT_EQ(port.ReadBytes(buffer, 4), 2);
    EXPECT_EQ(port.LastErrorCode(), 10000);
}

TEST_F(SerialLineStatus, ADriverWithoutCountersReportsNoLineErrors) {
    driver->counters.reset();
    Arrive("F");
    EXPECT_EQ(port.ReadByte(100), 'F');
    EXPECT_EQ(port.LastErrorCode(), 0);
}

TEST_F(SerialLineStatus, CountersBeforeTheProbeWasInstalledDoNotCount) {
    // A probe installed on an open port starts from what it reports at that moment.
    auto other = std::make_shared<FakeLineState>();
    other->counters = LineErrorCounters{.frame = 9, .overrun = 9, .bufferOverrun = 9, .parity = 9};
    port.SetLineStatusProbe(std::make_unique<FakeLineStatus>(other));
    Arrive("G");
    EXPECT_EQ(port.ReadByte(100), 'G');
    EXPECT_EQ(port.LastErrorCode(), 0);
}

}  // namespace
}  // namespace tallyport
