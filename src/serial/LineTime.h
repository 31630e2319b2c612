#pragma once

#include <chrono>
#include <cstddef>

#include "serial/BlockSerial.h"

namespace tallyport {

// Time on the wire. A UART sends each character as one start bit, the data bits, a parity bit
// when parity is on, and the stop bits (1, 1.5 or 2): 10 bits at 8N1, 1.04 ms at 9600 baud.
// Platform-neutral arithmetic, used by the port to pace its writes and by the link to size its
// write time-out.

// Bits of one character at these settings, counted in half bits (one and a half stop bits are
// 3). A byte size outside 5..8 counts as 8, the size of every link line.
int CharacterHalfBits(const PortSettings& line);

// Time one character takes on the line, rounded up to the microsecond; zero when the rate is
// unknown (0), so that nothing is paced on a guess.
std::chrono::microseconds CharacterTime(const PortSettings& line);

// Time `count` characters take on the line, sent back to back, rounded up to the microsecond.
std::chrono::microseconds WireTime(const PortSettings& line, std::size_t count);

}  // namespace tallyport
