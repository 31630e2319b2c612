#include "serial/LineTime.h"

#include <cstdint>
#include <limits>

namespace tallyport {

int CharacterHalfBits(const PortSettings& line) {
    const int dataBits = line.ByteSize >= 5 && line.ByteSize <= 8 ? line.ByteSize : 8;
    const int parityBits = line.Parity == PortParity::None ? 0 : 1;
    int stopHalfBits = 2;
    if (line.StopBits == PortStopBits::OneAndHalf) {
        stopHalfBits = 3;
    } else if (line.StopBits == PortStopBits::Two) {
        stopHalfBits = 4;
    }
    return 2 * (1 + dataBits + parityBits) + stopHalfBits;
}

std::chrono::microseconds CharacterTime(const PortSettings& line) {
    return WireTime(line, 1);
}

std::chrono::microseconds WireTime(const PortSettings& line, std::size_t count) {
    if (line.BaudRate == 0 || count == 0) {
        return std::chrono::microseconds(0);
    }
    // Half bits times a million over twice the rate; at most 24 half bits a character, so the
    // product stays far inside 64 bits for any count a write can have.
    constexpr std::uint64_t kLimit = std::numeric_limits<std::uint64_t>::max() / 24 / 1000000;
    const std::uint64_t characters = count < kLimit ? count : kLimit;
    const std::uint64_t numerator =
        characters * static_cast<std::uint64_t>(CharacterHalfBits(line)) * 1000000u;
    const std::uint64_t denominator = 2u * static_cast<std::uint64_t>(line.BaudRate);
    const std::uint64_t micros = (numerator + denominator - 1) / denominator;
    return std::chrono::microseconds(static_cast<std::chrono::microseconds::rep>(micros));
}

}  // namespace tallyport
