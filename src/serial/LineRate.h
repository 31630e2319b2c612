#pragma once

// Linux only: the termios2 interface for any rate. Windows keeps the rate in its DCB
// (DcbSettings.h), so this has no Windows twin.

#include <cstdint>

namespace tallyport {

// A terminal record in the layout both the C library and the kernel share up to the control
// characters, so that it can cross into the translation unit that talks termios2.
struct PlainTermios {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::uint8_t cc[32] = {};
};

// Writes the record at once together with an arbitrary line rate in bits per second (termios2
// with BOTHER), for rates that have no speed constant. Returns 0 or the error number.
int SetTermiosWithRate(int fd, const PlainTermios& record, std::uint32_t rate);

// The output line rate in bits per second as the driver holds it. Returns 0 or the error number.
int GetLineRate(int fd, std::uint32_t& rate);

}  // namespace tallyport
