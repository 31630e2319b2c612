// Time on the wire: the character-time arithmetic, and writes that complete only when their
// bytes have left the port (paced by that time on a pseudo-terminal, by the driver's output
// queue where it shows one).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "serial/LineTime.h"
#include "support/DrainingQueue.h"
#include "support/PtyLine.h"

namespace tallyport {
namespace {

using std::chrono::microseconds;
using test::PtyLine;
using testing::milliseconds;
using testing::MsSince;

PortSettings Line(std::uint32_t rate, std::uint8_t dataBits, PortParity parity,
                  PortStopBits stopBits) {
    PortSettings s;
    s.BaudRate = rate;
    s.ByteSize = dataBits;
    s.Parity = parity;
    s.StopBits = stopBits;
    return s;
}

TEST(LineTime, BitsOfOneCharacter) {
    // Start bit, data bits, parity bit when on, stop bits; counted in half bits.
    EXPECT_EQ(CharacterHalfBits(Line(9600, 8, PortParity::None, PortStopBits::One)), 20);
    EXPECT_EQ(CharacterHalfBits(Line(9600, 7, PortParity::Even, PortStopBits::One)), 20);
    EXPECT_EQ(CharacterHalfBits(Line(9600, 8, PortParity::Odd, PortStopBits::Two)), 24);
    EXPECT_EQ(CharacterHalfBits(Line(9600, 8, PortParity::Mark, PortStopBits::One)), 22);
    EXPECT_EQ(CharacterHalfBits(Line(9600, 5, PortParity::None, PortStopBits::OneAndHalf)), 15);
    EXPECT_EQ(CharacterHalfBits(Line(9600, 6, PortParity::Space, PortStopBits::Two)), 20);
    // A size the port never holds counts as eight data bits.
    EXPECT_EQ(CharacterHalfBits(Line(9600, 0, PortParity::None, PortStopBits::One)), 20);
}

TEST(LineTime, TimeOnTheWireRoundsUp) {
    const PortSettings line8N1 = Line(9600, 8, PortParity::None, PortStopBits::One);
    EXPECT_EQ(CharacterTime(line8N1), microseconds(1042));  // 1041.67 us
    EXPECT_EQ(WireTime(line8N1, 0), microseconds(0));
    EXPECT_EQ(WireTime(line8N1, 96), microseconds(100000));
    // A poll (19 characters) at 2400 and 4800 baud, an article reply (60) at 4800.
    EXPECT_EQ(WireTime(Line(2400, 8, PortParity::None, PortStopBits::One), 19),
              microseconds(79167));
    EXPECT_EQ(WireTime(Line(4800, 8, PortParity::None, PortStopBits::One), 19),
              microseconds(39584));
    EXPECT_EQ(WireTime(Line(4800, 8, PortParity::None, PortStopBits::One), 60),
              microseconds(125000));
    // Parity and two stop bits: 12 bits a character.
    EXPECT_EQ(WireTime(Line(1200, 8, PortParity::Even, PortStopBits::Two), 100),
              microseconds(1000000));
    // One and a half stop bits with five data bits: 7.5 bits.
    EXPECT_EQ(WireTime(Line(300, 5, PortParity::None, PortStopBits::OneAndHalf), 2),
              microseconds(50000));
    // An odd rate, rounded up to the next microsecond.
    EXPECT_EQ(WireTime(Line(14400, 8, PortParity::None, PortStopBits::One), 1), microseconds(695));
}

TEST(LineTime, UnknownRateIsNotPaced) {
    EXPECT_EQ(CharacterTime(Line(0, 8, PortParity::None, PortStopBits::One)), microseconds(0));
    EXPECT_EQ(WireTime(Line(0, 8, PortParity::None, PortStopBits::One), 1000), microseconds(0));
}

TEST(LineTime, HugeCountsDoNotOverflow) {
    const PortSettings slow = Line(50, 8, PortParity::Even, PortStopBits::Two);
    const microseconds t = WireTime(slow, static_cast<std::size_t>(1) << 40);
    EXPECT_GT(t, microseconds(0));
    EXPECT_GE(t, WireTime(slow, static_cast<std::size_t>(1) << 30));
}

class DrainedWrites : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(line.PortName().empty()); }

    // Opens the port at a rate and framing; the pseudo-terminal stores them and ignores them.
    void Open(std::uint32_t rate, PortParity parity = PortParity::None,
              PortStopBits stopBits = PortStopBits::One) {
        port.OpenPort(line.PortName());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
        port.LoadPortState();
        ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
        port.PortState().BaudRate = rate;
        port.PortState().ByteSize = 8;
        port.PortState().Parity = parity;
        port.PortState().StopBits = stopBits;
        port.ApplyPortState();
        ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    }

    // Installs a driver queue that drains at the port's own rate.
    std::shared_ptr<test::DrainingQueueState> Queue() {
        auto state = std::make_shared<test::DrainingQueueState>(CharacterTime(port.PortState()));
        port.SetLineStatusProbe(std::make_unique<test::DrainingQueue>(state));
        return state;
    }

    PtyLine line;
    TBlockSerial port;
};

TEST_F(DrainedWrites, WriteLastsTheBytesTimeOnTheWire) {
    // The pseudo-terminal takes the bytes at once and reports an empty queue: the computed
    // time paces the write. 60 characters at 2400 baud 8N1 are 250 ms on the wire.
    Open(2400);
    const std::string bytes(60, 'x');
    auto start = testing::Clock::now();
    EXPECT_EQ(port.WriteText(bytes), 60);
    EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    const long long took = MsSince(start);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 250 + 1500);
    EXPECT_EQ(line.Receive(60, milliseconds(1000)), bytes);
}

TEST_F(DrainedWrites, FramingCountsInTheWireTime) {
    // Even parity and two stop bits: 12 bits a character, 60 characters in 300 ms at 2400.
    Open(2400, PortParity::Even, PortStopBits::Two);
    auto start = testing::Clock::now();
    EXPECT_EQ(port.WriteText(std::string(60, 'y')), 60);
    EXPECT_EQ(port.LastErrorCode(), 0);
    const long long took = MsSince(start);
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 300 + 1500);
}

TEST_F(DrainedWrites, RateAsTheDriverHoldsItBeforeAnySettingsAreApplied) {
    // Opened without loading or applying settings: the line's rate as the line set it (9600)
    // paces the write. 96 characters at 9600 8N1 are 100 ms.
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady());
    auto start = testing::Clock::now();
    EXPECT_EQ(port.WriteText(std::string(96, 'z')), 96);
    const long long took = MsSince(start);
    EXPECT_GE(took, 100);
    EXPECT_LT(took, 100 + 1500);
}

TEST_F(DrainedWrites, WriteWaitsForTheDriverQueueToDrain) {
    // An adapter that starts sending only 300 ms after the bytes were handed over: its queue,
    // not the 4 ms the bytes take at 38400, decides when the write is complete.
    Open(38400);
    auto queue = Queue();
    queue->SetHold(milliseconds(300));
    auto start = testing::Clock::now();
    EXPECT_EQ(port.WriteText(std::string(16, 'q')), 16);
    EXPECT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    const long long took = MsSince(start);
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 300 + 1500);
    EXPECT_GE(testing::Clock::now(), queue->LastEmptyAt());
    // The write left an empty queue behind: the next send's 0 ms check finds it so.
    EXPECT_TRUE(port.WaitOutputDrained(0));
}

TEST_F(DrainedWrites, DrainThatNeverEndsFailsAtTheWriteTimeout) {
    Open(9600);
    auto queue = Queue();
    queue->SetStuck(true);
    port.SetIoTimeout(300);
    auto start = testing::Clock::now();
    EXPECT_EQ(port.WriteText("abc"), 0);  // none of the bytes left
    EXPECT_EQ(port.LastErrorCode(), 9997);
    EXPECT_EQ(port.LastErrorText(), "Timeout during operation");
    const long long took = MsSince(start);
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 300 + 1500);
}

TEST_F(DrainedWrites, BytesThatCannotLeaveWithinTheWriteTimeoutFail) {
    // 200 characters at 2400 baud take 833 ms: a 300 ms write time-out cannot hold them.
    Open(2400);
    port.SetIoTimeout(300);
    auto start = testing::Clock::now();
    port.WriteText(std::string(200, 'w'));
    EXPECT_EQ(port.LastErrorCode(), 9997);
    const long long took = MsSince(start);
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 800);
}

TEST_F(DrainedWrites, CloseEndsADrainingWritePromptly) {
    Open(9600);
    auto queue = Queue();
    queue->SetStuck(true);
    port.SetIoTimeout(20000);
    std::thread closer([this] {
        std::this_thread::sleep_for(milliseconds(150));
        port.ClosePort();
    });
    auto start = testing::Clock::now();
    port.WriteText("abc");
    const int code = port.LastErrorCode();
    const long long took = MsSince(start);
    closer.join();
    EXPECT_EQ(code, 9994);
    EXPECT_GE(took, 150);
    EXPECT_LT(took, 150 + 1500);
    EXPECT_FALSE(port.PortReady());
}

TEST_F(DrainedWrites, WaitOutputDrainedKeepsItsMeaning) {
    // It reports the queue only: bytes queued by someone else are waited for up to the wait.
    Open(9600);
    auto queue = Queue();
    queue->SetHold(milliseconds(200));
    queue->Queue(10);
    EXPECT_FALSE(port.WaitOutputDrained(0));
    EXPECT_FALSE(port.WaitOutputDrained(50));
    EXPECT_EQ(port.LastErrorCode(), 0);
    auto start = testing::Clock::now();
    EXPECT_TRUE(port.WaitOutputDrained(2000));
    EXPECT_LT(MsSince(start), 1500);
    EXPECT_GE(testing::Clock::now(), queue->LastEmptyAt());
}

}  // namespace
}  // namespace tallyport
