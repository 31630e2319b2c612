#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "serial/BlockSerial.h"

namespace tallyport {

// The technician's trace of the register lines. With the environment variable TALLYPORT_TRACE
// set (to anything but empty or "0"), every link writes each byte it sends and receives to
// standard error, with the time and the register's logical number. Off by default: the
// program keeps no log.
inline constexpr char kLinkTraceVariable[] = "TALLYPORT_TRACE";

// Whether the environment asks for the trace; read each time (at every connect).
bool LinkTraceRequested();

// One trace line without its line end, for example
//   2026-12-07 22:15:07.123 ECR3 sent 5: 0A 41 0D A9 A1  |.A...|
// (local time to the millisecond; "sent" from the PC, "recv" from the register; the bytes in
// hexadecimal, then as text with "." for what is not printable). A note is its text:
//   2026-12-07 22:15:07.123 ECR3 note: late confirmation, 18 ms after its wait
std::string FormatTraceLine(std::chrono::system_clock::time_point when, int logicalNb,
                            TraceDirection direction, std::string_view bytes);

// A hook that writes the trace lines of register `logicalNb` to descriptor `fd`, each with
// one write, so that the lines of several workers never mix.
TraceHook MakeLinkTrace(int logicalNb, int fd = 2);

}  // namespace tallyport
