// The line settings in a termios record: the mapping both ways, and what the port object
// leaves in the terminal's own record (fields it does not name, rates without a constant). The
// Windows counterpart tests the DCB (DcbSettingsTest_win32.cpp).
#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "serial/BlockSerial.h"
#include "serial/LineRate.h"
#include "serial/TermiosSettings.h"
#include "support/PtyFarEnd.h"

namespace tallyport {
namespace {

using test::PtyFarEnd;

constexpr std::uint32_t kLinkFlags = kDcbBinary | kDcbDtrControlEnable;  // 0x11
constexpr std::uint32_t kFlowFlags = kDcbBinary | kDcbParityCheck | kDcbOutxCtsFlow | kDcbOutX |
                                     kDcbInX | kDcbDtrControlEnable | kDcbRtsControlHandshake;

void ExpectSameSettings(const PortSettings& got, const PortSettings& want) {
    EXPECT_EQ(got.BaudRate, want.BaudRate);
    EXPECT_EQ(got.Flags, want.Flags);
    EXPECT_EQ(got.ByteSize, want.ByteSize);
    EXPECT_EQ(got.Parity, want.Parity);
    EXPECT_EQ(got.StopBits, want.StopBits);
}

bool SameRecord(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

termios CookedRecord() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | INPCK | BRKINT;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL | CREAD;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    cfsetspeed(&t, B2400);
    return t;
}

TEST(TermiosMapping, EveryFrameFormatSurvivesTheRoundTrip) {
    termios base{};
    cfmakeraw(&base);
    for (std::uint8_t size = 5; size <= 8; ++size) {
        for (PortParity parity : {PortParity::None, PortParity::Odd, PortParity::Even,
                                  PortParity::Mark, PortParity::Space}) {
            for (PortStopBits stop :
                 {PortStopBits::One, PortStopBits::OneAndHalf, PortStopBits::Two}) {
                SCOPED_TRACE(::testing::Message() << int(size) << " bits, parity " << int(parity)
                                                  << ", stop " << int(stop));
                const PortSettings want{.BaudRate = 9600,
                                        .Flags = kLinkFlags,
                                        .ByteSize = size,
                                        .Parity = parity,
                                        .StopBits = stop};
                termios t = base;
                const int rc = ApplySettingsToTermios(want, t);
                const bool possible =
                    stop == PortStopBits::One || (size == 5) == (stop == PortStopBits::OneAndHalf);
                if (!possible) {
                    EXPECT_EQ(rc, EINVAL);
                    EXPECT_TRUE(SameRecord(t, base));
                    continue;
                }
                ASSERT_EQ(rc, 0);
                ExpectSameSettings(SettingsFromTermios(t, 9600, ModemLinesFor(want.Flags)), want);
            }
        }
    }
}

TEST(TermiosMapping, ParityAndSizeUseTheirOwnBits) {
    termios t{};
    cfmakeraw(&t);
    PortSettings s{.BaudRate = 9600, .Flags = kLinkFlags, .ByteSize = 7};
    auto bits = [&](PortParity parity) {
        s.Parity = parity;
        EXPECT_EQ(ApplySettingsToTermios(s, t), 0);
        return t.c_cflag & (PARENB | PARODD | CMSPAR);
    };
    EXPECT_EQ(bits(PortParity::None), 0u);
    EXPECT_EQ(bits(PortParity::Odd), tcflag_t(PARENB | PARODD));
    EXPECT_EQ(bits(PortParity::Even), tcflag_t(PARENB));
    EXPECT_EQ(bits(PortParity::Mark), tcflag_t(PARENB | PARODD | CMSPAR));
    EXPECT_EQ(bits(PortParity::Space), tcflag_t(PARENB | CMSPAR));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
    s.ByteSize = 5;
    s.StopBits = PortStopBits::OneAndHalf;
    EXPECT_EQ(ApplySettingsToTermios(s, t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS5));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST(TermiosMapping, LinkFlagsGiveARawLineWithoutFlowControl) {
    termios t = CookedRecord();
    const PortSettings s{.BaudRate = 4800,
                         .Flags = kLinkFlags,
                         .ByteSize = 8,
                         .Parity = PortParity::None,
                         .StopBits = PortStopBits::Two};
    ASSERT_EQ(ApplySettingsToTermios(s, t), 0);
    EXPECT_TRUE(IsRawMode(t));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));
    EXPECT_FALSE(t.c_cflag & (CRTSCTS | PARENB));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB);  // as it was
    EXPECT_TRUE(t.c_cflag & HUPCL);   // not named, so kept
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    const ModemLines lines = ModemLinesFor(kLinkFlags);
    EXPECT_TRUE(lines.dtr);
    EXPECT_FALSE(lines.rts);
    EXPECT_EQ(SettingsFromTermios(t, 4800, lines).Flags, kLinkFlags);
}

TEST(TermiosMapping, FlowControlAndParityCheckFlags) {
    termios t{};
    cfmakeraw(&t);
    PortSettings s{.BaudRate = 9600, .Flags = kFlowFlags, .ByteSize = 8};
    ASSERT_EQ(ApplySettingsToTermios(s, t), 0);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(ModemLinesFor(s.Flags).rts);
    EXPECT_EQ(SettingsFromTermios(t, 9600, ModemLinesFor(s.Flags)).Flags, kFlowFlags);

    // RTS toggling is no hardware handshake; CTS output flow alone is.
    s.Flags = kDcbBinary | kDcbRtsControlEnable | kDcbRtsControlHandshake;
    ASSERT_EQ(ApplySettingsToTermios(s, t), 0);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(ModemLinesFor(s.Flags).rts);
    s.Flags = kDcbBinary | kDcbOutxCtsFlow;
    ASSERT_EQ(ApplySettingsToTermios(s, t), 0);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));
}

TEST(TermiosMapping, WithoutTheBinaryFlagTheLineDisciplineIsKept) {
    termios t = CookedRecord();
    const PortSettings s{.BaudRate = 9600, .Flags = 0, .ByteSize = 8};
    ASSERT_EQ(ApplySettingsToTermios(s, t), 0);
    EXPECT_TRUE(t.c_lflag & ICANON);
    EXPECT_TRUE(t.c_oflag & OPOST);
    EXPECT_FALSE(IsRawMode(t));
    EXPECT_EQ(SettingsFromTermios(t, 9600, {}).Flags & kDcbBinary, 0u);
}

TEST(TermiosMapping, ValuesWithoutATermiosFormAreRefused) {
    const termios before = CookedRecord();
    const PortSettings good{.BaudRate = 9600, .Flags = kLinkFlags, .ByteSize = 8};
    PortSettings bad[6] = {good, good, good, good, good, good};
    bad[0].ByteSize = 4;
    bad[1].ByteSize = 9;
    bad[2].ByteSize = 0;
    bad[3].Parity = static_cast<PortParity>(7);
    bad[4].StopBits = static_cast<PortStopBits>(5);
    bad[5].BaudRate = 0;
    for (const PortSettings& s : bad) {
        termios t = before;
        EXPECT_EQ(ApplySettingsToTermios(s, t), EINVAL);
        EXPECT_TRUE(SameRecord(t, before));
    }
}

TEST(TermiosMapping, RatesWithAndWithoutSpeedConstants) {
    EXPECT_EQ(SpeedConstant(4800), speed_t(B4800));
    EXPECT_EQ(SpeedConstant(9600), speed_t(B9600));
    EXPECT_EQ(SpeedConstant(115200), speed_t(B115200));
    EXPECT_FALSE(SpeedConstant(14400));
    EXPECT_FALSE(SpeedConstant(28800));
    EXPECT_FALSE(SpeedConstant(0));
    EXPECT_EQ(RateOfSpeedConstant(B19200), 19200u);
    EXPECT_EQ(RateOfSpeedConstant(B0), 0u);
}

class TermiosRecord : public ::testing::Test {
protected:
    void SetUp() override {
        port.OpenPort(line.SlavePath());
        ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    }
    termios LineRecord() {
        termios t{};
        EXPECT_EQ(tcgetattr(line.Slave(), &t), 0);
        return t;
    }
    void SetLineRecord(const termios& t) { ASSERT_EQ(tcsetattr(line.Slave(), TCSANOW, &t), 0); }
    void Load() {
        port.PortState() = PortSettings{};
        port.LoadPortState();
        ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    }

    PtyFarEnd line;
    TBlockSerial port;
};

TEST_F(TermiosRecord, LinkSettingsMakeARawRecord) {
    Load();
    PortSettings& s = port.PortState();
    s.BaudRate = 4800;
    s.Flags = kLinkFlags;
    s.ByteSize = 8;
    s.Parity = PortParity::None;
    port.ApplyPortState();
    ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();

    const termios t = LineRecord();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B4800));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(IsRawMode(t));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_FALSE(t.c_cflag & (CRTSCTS | PARENB | CSTOPB));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    Load();
    ExpectSameSettings(port.PortState(), PortSettings{.BaudRate = 4800,
                                                      .Flags = kLinkFlags,
                                                      .ByteSize = 8,
                                                      .Parity = PortParity::None,
                                                      .StopBits = PortStopBits::One});
    // The line still carries bytes after the change.
    EXPECT_EQ(port.WriteText(std::string("\x0A\x00\x0D", 3)), 3);
    EXPECT_EQ(line.Receive(3, std::chrono::milliseconds(1000)), std::string("\x0A\x00\x0D", 3));
}

TEST_F(TermiosRecord, RateWithoutASpeedConstantIsSet) {
    Load();
    port.PortState().BaudRate = 14400;
    port.PortState().Flags = kLinkFlags;
    port.ApplyPortState();
    ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    std::uint32_t rate = 0;
    ASSERT_EQ(GetLineRate(line.Slave(), rate), 0);
    EXPECT_EQ(rate, 14400u);
    const termios t = LineRecord();
    EXPECT_TRUE(IsRawMode(t));  // the rest of the record went with it
    EXPECT_EQ(t.c_cc[VMIN], 0);
    Load();
    EXPECT_EQ(port.PortState().BaudRate, 14400u);
    EXPECT_EQ(port.PortState().ByteSize, 8);

    // Back to a rate with a constant.
    port.PortState().BaudRate = 19200;
    port.ApplyPortState();
    ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    ASSERT_EQ(GetLineRate(line.Slave(), rate), 0);
    EXPECT_EQ(rate, 19200u);
    const termios u = LineRecord();
    EXPECT_EQ(cfgetospeed(&u), speed_t(B19200));
    Load();
    EXPECT_EQ(port.PortState().BaudRate, 19200u);
}

TEST_F(TermiosRecord, FieldsNotNamedStayAsTheLineHadThem) {
    termios t = LineRecord();
    t.c_cflag |= CSTOPB | HUPCL;
    SetLineRecord(t);
    Load();
    ASSERT_EQ(port.PortState().StopBits, PortStopBits::Two);
    port.PortState().BaudRate = 4800;
    port.PortState().Flags = kLinkFlags;
    port.ApplyPortState();
    ASSERT_EQ(port.LastErrorCode(), 0);
    EXPECT_TRUE(LineRecord().c_cflag & CSTOPB);
    EXPECT_TRUE(LineRecord().c_cflag & HUPCL);

    port.PortState().StopBits = PortStopBits::One;
    port.ApplyPortState();
    ASSERT_EQ(port.LastErrorCode(), 0);
    EXPECT_FALSE(LineRecord().c_cflag & CSTOPB);
}

TEST_F(TermiosRecord, ApplyWithoutLoadStartsFromTheLinesOwnRecord) {
    termios t = LineRecord();
    t.c_cflag |= HUPCL;
    SetLineRecord(t);
    port.PortState() = PortSettings{.BaudRate = 4800, .Flags = kLinkFlags, .ByteSize = 8};
    port.ApplyPortState();
    ASSERT_EQ(port.LastErrorCode(), 0) << port.LastErrorText();
    const termios applied = LineRecord();
    EXPECT_TRUE(applied.c_cflag & HUPCL);
    EXPECT_EQ(cfgetospeed(&applied), speed_t(B4800));
}

}  // namespace
}  // namespace tallyport
