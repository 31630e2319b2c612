// The line settings in a Windows DCB: the flag word bit for bit, every frame format, and the
// fields the settings do not name.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "serial/DcbSettings.h"

namespace tallyport {
namespace {

constexpr std::uint32_t kLinkFlags = kDcbBinary | kDcbDtrControlEnable;  // 0x11

// The DCB's bit-field word as the system lays it out: the DWORD after BaudRate.
DWORD RawFlagWord(const DCB& dcb) {
    DWORD word = 0;
    std::memcpy(&word,
                reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
                sizeof word);
    return word;
}

DCB FilledDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 2400;
    dcb.XonLim = 100;
    dcb.XoffLim = 200;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    return dcb;
}

TEST(DcbMapping, TheFlagWordIsTheDcbsBitForBit) {
    for (int bit = 0; bit < 15; ++bit) {
        SCOPED_TRACE(bit);
        DCB dcb{};
        SetDcbFlagWord(dcb, 1u << bit);
        EXPECT_EQ(RawFlagWord(dcb), 1u << bit);
        EXPECT_EQ(FlagWordOfDcb(dcb), 1u << bit);
    }
    DCB dcb{};
    SetDcbFlagWord(dcb, 0x7FFF);
    EXPECT_EQ(RawFlagWord(dcb), 0x7FFFu);
    EXPECT_EQ(FlagWordOfDcb(dcb), 0x7FFFu);

    // The named fields carry the system's own values.
    SetDcbFlagWord(dcb, kLinkFlags);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fDtrControl, unsigned{DTR_CONTROL_ENABLE});
    EXPECT_EQ(dcb.fRtsControl, unsigned{RTS_CONTROL_DISABLE});
    SetDcbFlagWord(dcb, kDcbDtrControlHandshake | kDcbRtsControlHandshake | kDcbOutxCtsFlow);
    EXPECT_EQ(dcb.fDtrControl, unsigned{DTR_CONTROL_HANDSHAKE});
    EXPECT_EQ(dcb.fRtsControl, unsigned{RTS_CONTROL_HANDSHAKE});
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    SetDcbFlagWord(dcb, kDcbRtsControlEnable | kDcbRtsControlHandshake);
    EXPECT_EQ(dcb.fRtsControl, unsigned{RTS_CONTROL_TOGGLE});
}

TEST(DcbMapping, EveryFrameFormatSurvivesTheRoundTrip) {
    for (std::uint8_t size = 5; size <= 8; ++size) {
        for (PortParity parity : {PortParity::None, PortParity::Odd, PortParity::Even,
                                  PortParity::Mark, PortParity::Space}) {
            for (PortStopBits stop :
                 {PortStopBits::One, PortStopBits::OneAndHalf, PortStopBits::Two}) {
                SCOPED_TRACE(::testing::Message() << int(size) << " bits, parity " << int(parity)
                                                  << ", stop " << int(stop));
                const PortSettings want{.BaudRate = 14400,
                                        .Flags = kLinkFlags,
                                        .ByteSize = size,
                                        .Parity = parity,
                                        .StopBits = stop};
                const DCB before = FilledDcb();
                DCB dcb = before;
                const int rc = ApplySettingsToDcb(want, dcb);
                const bool possible =
                    stop == PortStopBits::One || (size == 5) == (stop == PortStopBits::OneAndHalf);
                if (!possible) {
                    EXPECT_EQ(rc, ERROR_INVALID_PARAMETER);
                    EXPECT_EQ(std::memcmp(&dcb, &before, sizeof dcb), 0);
                    continue;
                }
                ASSERT_EQ(rc, 0);
                const PortSettings got = SettingsFromDcb(dcb);
                EXPECT_EQ(got.BaudRate, want.BaudRate);
                EXPECT_EQ(got.Flags, want.Flags);
                EXPECT_EQ(got.ByteSize, want.ByteSize);
                EXPECT_EQ(got.Parity, want.Parity);
                EXPECT_EQ(got.StopBits, want.StopBits);
                EXPECT_EQ(dcb.Parity, static_cast<BYTE>(parity));  // NOPARITY .. SPACEPARITY
                EXPECT_EQ(dcb.StopBits, static_cast<BYTE>(stop));  // ONESTOPBIT .. TWOSTOPBITS
            }
        }
    }
}

TEST(DcbMapping, FieldsNotNamedAreKept) {
    DCB dcb = FilledDcb();
    const PortSettings link{.BaudRate = 4800, .Flags = kLinkFlags, .ByteSize = 8};
    ASSERT_EQ(ApplySettingsToDcb(link, dcb), 0);
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonLim, 100);
    EXPECT_EQ(dcb.XoffLim, 200);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 0x1A);
    EXPECT_EQ(dcb.EvtChar, '\n');
    EXPECT_EQ(dcb.DCBlength, sizeof dcb);
}

TEST(DcbMapping, ValuesWithoutADcbFormAreRefused) {
    const PortSettings good{.BaudRate = 9600, .Flags = kLinkFlags, .ByteSize = 8};
    PortSettings bad[6] = {good, good, good, good, good, good};
    bad[0].ByteSize = 4;
    bad[1].ByteSize = 9;
    bad[2].ByteSize = 0;
    bad[3].Parity = static_cast<PortParity>(7);
    bad[4].StopBits = static_cast<PortStopBits>(5);
    bad[5].BaudRate = 0;
    for (const PortSettings& s : bad) {
        const DCB before = FilledDcb();
        DCB dcb = before;
        EXPECT_EQ(ApplySettingsToDcb(s, dcb), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(std::memcmp(&dcb, &before, sizeof dcb), 0);
    }
}

}  // namespace
}  // namespace tallyport
