#pragma once

// POSIX only: the line settings in a termios record. Its Windows counterpart is DcbSettings.h.

#include <termios.h>

#include <cstdint>
#include <optional>

#include "serial/BlockSerial.h"

namespace tallyport {

// The termios speed constant of a rate, or nullopt when the rate has none (14400, 28800, ...).
std::optional<speed_t> SpeedConstant(std::uint32_t rate);
// The rate of a termios speed constant, or 0 when it names none.
std::uint32_t RateOfSpeedConstant(speed_t speed);

// True when the record is in raw mode: no line editing, echo, signals, output processing or
// input translation.
bool IsRawMode(const termios& t);

struct ModemLines {
    bool dtr = false;
    bool rts = false;
};

// The settings a termios record describes. `rate` is the line rate, `lines` the state of the
// modem control lines.
PortSettings SettingsFromTermios(const termios& t, std::uint32_t rate, ModemLines lines);

// Writes the named settings on top of `t`, keeping every other field, and sets VMIN = VTIME = 0.
// The rate is not written here. Returns 0, or EINVAL when a value has no termios form (then
// `t` is unchanged).
int ApplySettingsToTermios(const PortSettings& settings, termios& t);

// The modem control lines the flag word asks for: DTR unless its control is disabled, RTS
// unless its control is disabled (hardware handshake keeps it raised for the driver to drive).
ModemLines ModemLinesFor(std::uint32_t flags);

}  // namespace tallyport
