// The line settings as a termios record: POSIX terminals only. On Windows the same settings go
// into a DCB (DcbSettings_win32.cpp).
#include <cerrno>
#include <utility>

#include "serial/TermiosSettings.h"

namespace tallyport {
namespace {

constexpr std::pair<std::uint32_t, speed_t> kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

constexpr std::uint32_t kDtrControlMask = kDcbDtrControlEnable | kDcbDtrControlHandshake;
constexpr std::uint32_t kRtsControlMask = kDcbRtsControlEnable | kDcbRtsControlHandshake;

}  // namespace

std::optional<speed_t> SpeedConstant(std::uint32_t rate) {
    for (const auto& [r, speed] : kSpeeds) {
        if (r == rate)
            return speed;
    }
    return std::nullopt;
}

std::uint32_t RateOfSpeedConstant(speed_t speed) {
    for (const auto& [r, s] : kSpeeds) {
        if (s == speed)
            return r;
    }
    return 0;
}

bool IsRawMode(const termios& t) {
    constexpr tcflag_t kInputTranslation =
        IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL;
    constexpr tcflag_t kLineDiscipline = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    return (t.c_iflag & kInputTranslation) == 0 && (t.c_oflag & OPOST) == 0 &&
           (t.c_lflag & kLineDiscipline) == 0;
}

PortSettings SettingsFromTermios(const termios& t, std::uint32_t rate, ModemLines lines) {
    PortSettings s;
    s.BaudRate = rate;
    if (IsRawMode(t))
        s.Flags |= kDcbBinary;
    if (t.c_iflag & INPCK)
        s.Flags |= kDcbParityCheck;
    if (t.c_iflag & IXON)
        s.Flags |= kDcbOutX;
    if (t.c_iflag & IXOFF)
        s.Flags |= kDcbInX;
    if (lines.dtr)
        s.Flags |= kDcbDtrControlEnable;
    if (t.c_cflag & CRTSCTS) {
        s.Flags |= kDcbOutxCtsFlow | kDcbRtsControlHandshake;
    } else if (lines.rts) {
        s.Flags |= kDcbRtsControlEnable;
    }

    switch (t.c_cflag & CSIZE) {
        case CS5:
            s.ByteSize = 5;
            break;
        case CS6:
            s.ByteSize = 6;
            break;
        case CS7:
            s.ByteSize = 7;
            break;
        default:
            s.ByteSize = 8;
            break;
    }

    if (!(t.c_cflag & PARENB)) {
        s.Parity = PortParity::None;
    } else if (t.c_cflag & CMSPAR) {
        s.Parity = (t.c_cflag & PARODD) ? PortParity::Mark : PortParity::Space;
    } else {
        s.Parity = (t.c_cflag & PARODD) ? PortParity::Odd : PortParity::Even;
    }

    if (!(t.c_cflag & CSTOPB)) {
        s.StopBits = PortStopBits::One;
    } else {
        // With five data bits a UART sends one and a half stop bits for CSTOPB.
        s.StopBits = s.ByteSize == 5 ? PortStopBits::OneAndHalf : PortStopBits::Two;
    }
    return s;
}

int ApplySettingsToTermios(const PortSettings& settings, termios& t) {
    tcflag_t size = 0;
    switch (settings.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;
    }
    tcflag_t parity = 0;
    switch (settings.Parity) {
        case PortParity::None:
            parity = 0;
            break;
        case PortParity::Odd:
            parity = PARENB | PARODD;
            break;
        case PortParity::Even:
            parity = PARENB;
            break;
        case PortParity::Mark:
            parity = PARENB | PARODD | CMSPAR;
            break;
        case PortParity::Space:
            parity = PARENB | CMSPAR;
            break;
        default:
            return EINVAL;
    }
    tcflag_t stop = 0;
    switch (settings.StopBits) {
        case PortStopBits::One:
            stop = 0;
            break;
        case PortStopBits::OneAndHalf:
        case PortStopBits::Two:
            stop = CSTOPB;
            break;
        default:
            return EINVAL;
    }
    // A UART sends one and a half stop bits only with five data bits, and two only with more.
    if (stop != 0 && (settings.ByteSize == 5) != (settings.StopBits == PortStopBits::OneAndHalf)) {
        return EINVAL;
    }
    if (settings.BaudRate == 0)
        return EINVAL;  // speed 0 would hang the line up

    termios n = t;
    if (settings.Flags & kDcbBinary)
        cfmakeraw(&n);
    n.c_cflag |= CLOCAL | CREAD;

    auto setIf = [](tcflag_t& field, tcflag_t bits, bool on) {
        field = on ? (field | bits) : (field & ~bits);
    };
    setIf(n.c_iflag, INPCK, settings.Flags & kDcbParityCheck);
    setIf(n.c_iflag, IXON, settings.Flags & kDcbOutX);
    setIf(n.c_iflag, IXOFF, settings.Flags & kDcbInX);
    setIf(n.c_cflag, CRTSCTS,
          (settings.Flags & kDcbOutxCtsFlow) ||
              (settings.Flags & kRtsControlMask) == kDcbRtsControlHandshake);

    n.c_cflag = (n.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)) | size | parity | stop;
    n.c_cc[VMIN] = 0;
    n.c_cc[VTIME] = 0;
    t = n;
    return 0;
}

ModemLines ModemLinesFor(std::uint32_t flags) {
    return ModemLines{.dtr = (flags & kDtrControlMask) != 0, .rts = (flags & kRtsControlMask) != 0};
}

}  // namespace tallyport
