#include "serial/DcbSettings.h"

namespace tallyport {

std::uint32_t FlagWordOfDcb(const DCB& dcb) {
    std::uint32_t flags = 0;
    auto put = [&flags](std::uint32_t value, std::uint32_t lowestBit) {
        flags |= value * lowestBit;
    };
    put(dcb.fBinary, kDcbBinary);
    put(dcb.fParity, kDcbParityCheck);
    put(dcb.fOutxCtsFlow, kDcbOutxCtsFlow);
    put(dcb.fOutxDsrFlow, kDcbOutxDsrFlow);
    put(dcb.fDtrControl, kDcbDtrControlEnable);  // two bits: disable, enable, handshake
    put(dcb.fDsrSensitivity, kDcbDsrSensitivity);
    put(dcb.fTXContinueOnXoff, kDcbTxContinueOnXoff);
    put(dcb.fOutX, kDcbOutX);
    put(dcb.fInX, kDcbInX);
    put(dcb.fErrorChar, kDcbErrorChar);
    put(dcb.fNull, kDcbNullStrip);
    put(dcb.fRtsControl, kDcbRtsControlEnable);  // two bits: disable, enable, handshake, toggle
    put(dcb.fAbortOnError, kDcbAbortOnError);
    return flags;
}

void SetDcbFlagWord(DCB& dcb, std::uint32_t flags) {
    auto bit = [flags](std::uint32_t mask) { return (flags & mask) != 0 ? 1u : 0u; };
    dcb.fBinary = bit(kDcbBinary);
    dcb.fParity = bit(kDcbParityCheck);
    dcb.fOutxCtsFlow = bit(kDcbOutxCtsFlow);
    dcb.fOutxDsrFlow = bit(kDcbOutxDsrFlow);
    dcb.fDtrControl = (flags / kDcbDtrControlEnable) & 3u;
    dcb.fDsrSensitivity = bit(kDcbDsrSensitivity);
    dcb.fTXContinueOnXoff = bit(kDcbTxContinueOnXoff);
    dcb.fOutX = bit(kDcbOutX);
    dcb.fInX = bit(kDcbInX);
    dcb.fErrorChar = bit(kDcbErrorChar);
    dcb.fNull = bit(kDcbNullStrip);
    dcb.fRtsControl = (flags / kDcbRtsControlEnable) & 3u;
    dcb.fAbortOnError = bit(kDcbAbortOnError);
}

PortSettings SettingsFromDcb(const DCB& dcb) {
    PortSettings s;
    s.BaudRate = dcb.BaudRate;
    s.Flags = FlagWordOfDcb(dcb);
    s.ByteSize = dcb.ByteSize;
    s.Parity = static_cast<PortParity>(dcb.Parity);
    s.StopBits = static_cast<PortStopBits>(dcb.StopBits);
    return s;
}

int ApplySettingsToDcb(const PortSettings& settings, DCB& dcb) {
    const bool sizeKnown = settings.ByteSize >= 5 && settings.ByteSize <= 8;
    const bool parityKnown = settings.Parity <= PortParity::Space;
    const bool stopKnown = settings.StopBits <= PortStopBits::Two;
    // A UART sends one and a half stop bits only with five data bits, and two only with more.
    const bool stopFits =
        settings.StopBits == PortStopBits::One ||
        (settings.ByteSize == 5) == (settings.StopBits == PortStopBits::OneAndHalf);
    if (!sizeKnown || !parityKnown || !stopKnown || !stopFits || settings.BaudRate == 0)
        return ERROR_INVALID_PARAMETER;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.BaudRate;
    SetDcbFlagWord(dcb, settings.Flags);
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = static_cast<BYTE>(settings.Parity);
    dcb.StopBits = static_cast<BYTE>(settings.StopBits);
    return 0;
}

}  // namespace tallyport
