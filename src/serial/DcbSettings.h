#pragma once

// Windows only: the port's line settings in a DCB, the Windows counterpart of
// TermiosSettings.h. The rate is a field of the DCB itself, so Windows needs no twin of
// LineRate.h.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

#include "serial/BlockSerial.h"

namespace tallyport {

// The DCB's bit fields as the kDcb* flag word (the same bits in the same places), and back.
std::uint32_t FlagWordOfDcb(const DCB& dcb);
void SetDcbFlagWord(DCB& dcb, std::uint32_t flags);

// The settings a DCB describes.
PortSettings SettingsFromDcb(const DCB& dcb);

// Writes the named settings on top of `dcb`, keeping every other field (the XON/XOFF limits
// and characters, the error and event characters). Returns 0, or ERROR_INVALID_PARAMETER when a
// value has no DCB form (then `dcb` is unchanged): a byte size outside 5..8, an unknown parity
// or stop-bit value, one and a half stop bits with more than five data bits, two with five, a
// rate of 0.
int ApplySettingsToDcb(const PortSettings& settings, DCB& dcb);

}  // namespace tallyport
