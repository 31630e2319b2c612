// The port's line settings as the far side of the line sees them: shared by both platforms
// (a termios record on Linux, a DCB under Wine, the same pseudo-terminal behind both).
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/BlockSerial.h"
#include "support/PtyLine.h"
#include "support/SerialPlatform.h"

namespace tallyport {
namespace {

using test::FarSettings;
using test::PlatformCodes;
using test::PtyLine;
using test::RunningUnderWine;

constexpr std::uint32_t kLinkFlags = kDcbBinary | kDcbDtrControlEnable;  // 0x11
constexpr std::uint32_t kFlowFlags = kDcbBinary | kDcbParityCheck | kDcbOutxCtsFlow | kDcbOutX |
                                     kDcbInX | kDcbDtrControlEnable | kDcbRtsControlHandshake;
constexpr std::uint32_t kRtsControl = kDcbRtsControlEnable | kDcbRtsControlHandshake;

// What of the flag word reaches a pseudo-terminal under Wine and reads back: Wine reads the RTS
// control as "enabled" whatever was set (a pty has no modem lines to ask), and it turns parity
// checking on only together with a parity (the lines here have none). Everything else holds.
std::uint32_t ComparableFlags(std::uint32_t flags) {
    return RunningUnderWine() ? flags & ~(kRtsControl | kDcbParityCheck) : flags;
}

class SerialPortSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(line.PortName().empty());
        port.OpenPort(line.PortName());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    }
    FarSettings Far() { return line.Settings().value_or(FarSettings{}); }
    void Load() {
        port.PortState() = PortSettings{};
        port.LoadPortState();
        ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    }
    void Apply() {
        port.ApplyPortState();
        ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    }

    PtyLine line;
    TBlockSerial port;
};

TEST_F(SerialPortSettings, LoadReadsWhatTheLineHas) {
    Load();
    EXPECT_EQ(port.PortState().BaudRate, 9600u);
    EXPECT_EQ(port.PortState().ByteSize, 8);
    EXPECT_EQ(port.PortState().Parity, PortParity::None);
    EXPECT_EQ(port.PortState().StopBits, PortStopBits::One);
    EXPECT_TRUE(port.PortState().Flags & kDcbBinary);
    // The open raised both modem lines.
    EXPECT_TRUE(port.PortState().Flags & kDcbDtrControlEnable);
    EXPECT_TRUE(port.PortState().Flags & kDcbRtsControlEnable);

    // Another program changes the line.
    line.SetSettings(19200, true);
    Load();
    EXPECT_EQ(port.PortState().BaudRate, 19200u);
    EXPECT_EQ(port.PortState().StopBits, PortStopBits::Two);
}

TEST_F(SerialPortSettings, LinkSettingsReachTheLineAndReadBack) {
    Load();
    PortSettings& s = port.PortState();
    s.BaudRate = 4800;
    s.Flags = kLinkFlags;
    s.ByteSize = 8;
    s.Parity = PortParity::None;
    Apply();

    const FarSettings far = Far();
    EXPECT_EQ(far.rate, 4800u);
    EXPECT_TRUE(far.raw);
    EXPECT_FALSE(far.twoStopBits);
    EXPECT_FALSE(far.rtsCts);
    EXPECT_FALSE(far.xonOutput);
    EXPECT_FALSE(far.xonInput);
    EXPECT_FALSE(far.parityCheck);

    Load();
    EXPECT_EQ(port.PortState().BaudRate, 4800u);
    EXPECT_EQ(ComparableFlags(port.PortState().Flags), ComparableFlags(kLinkFlags));
    EXPECT_EQ(port.PortState().ByteSize, 8);
    EXPECT_EQ(port.PortState().Parity, PortParity::None);
    EXPECT_EQ(port.PortState().StopBits, PortStopBits::One);
    // The line still carries bytes after the change.
    EXPECT_EQ(port.WriteText(std::string("\x0A\x00\x0D", 3)), 3);
    EXPECT_EQ(line.Receive(3, std::chrono::milliseconds(1000)), std::string("\x0A\x00\x0D", 3));
}

TEST_F(SerialPortSettings, FlowControlFlagsReachTheLineAndReadBack) {
    Load();
    port.PortState().Flags = kFlowFlags;
    Apply();
    FarSettings far = Far();
    EXPECT_TRUE(far.rtsCts);
    EXPECT_TRUE(far.xonOutput);
    EXPECT_TRUE(far.xonInput);
    EXPECT_TRUE(far.parityCheck || RunningUnderWine());
    Load();
    EXPECT_EQ(ComparableFlags(port.PortState().Flags), ComparableFlags(kFlowFlags));

    port.PortState().Flags = kLinkFlags;
    Apply();
    far = Far();
    EXPECT_FALSE(far.rtsCts || far.xonOutput || far.xonInput || far.parityCheck);
    Load();
    EXPECT_EQ(ComparableFlags(port.PortState().Flags), ComparableFlags(kLinkFlags));
}

TEST_F(SerialPortSettings, StopBitsStayAsTheLineHadThem) {
    line.SetSettings(9600, true);
    Load();
    ASSERT_EQ(port.PortState().StopBits, PortStopBits::Two);
    port.PortState().BaudRate = 4800;
    port.PortState().Flags = kLinkFlags;
    Apply();
    EXPECT_TRUE(Far().twoStopBits);
    EXPECT_EQ(Far().rate, 4800u);

    port.PortState().StopBits = PortStopBits::One;
    Apply();
    EXPECT_FALSE(Far().twoStopBits);
}

TEST_F(SerialPortSettings, RefusedSettingsLeaveTheLineAlone) {
    Load();
    const FarSettings before = Far();
    const int invalid = PlatformCodes().invalidArgument;
    for (auto spoil :
         {+[](PortSettings& s) { s.ByteSize = 9; }, +[](PortSettings& s) { s.BaudRate = 0; },
          +[](PortSettings& s) { s.StopBits = PortStopBits::OneAndHalf; }}) {
        Load();
        port.PortState().BaudRate = 2400;
        spoil(port.PortState());
        port.ApplyPortState();
        EXPECT_EQ(port.LastErrorCode(), invalid);
        EXPECT_EQ(port.LastErrorText(), TBlockSerial::ErrorText(invalid));
        const FarSettings after = Far();
        EXPECT_EQ(after.rate, before.rate);
        EXPECT_EQ(after.twoStopBits, before.twoStopBits);
        EXPECT_EQ(after.raw, before.raw);
        EXPECT_TRUE(port.PortReady());
    }
}

}  // namespace
}  // namespace tallyport
