#pragma once

#include <chrono>
#include <cstddef>

namespace tallyport::sim {

// The serial line between the PC and a register: its rate and its framing. A character takes
// one start bit, the data bits, a parity bit if there is one and the stop bits: 10 bits at 8N1,
// 1.04 ms at 9600 baud, 4.17 ms at 2400. A rate of 0 is the bare pseudo-terminal, which hands
// every byte over the moment it is written.
struct LineRate {
    int baud = 0;
    int dataBits = 8;
    bool parity = false;
    int stopBits = 1;

    static constexpr LineRate Instant() { return LineRate{}; }
    static constexpr LineRate Baud(int baud) { return LineRate{baud, 8, false, 1}; }

    constexpr bool Timed() const { return baud > 0; }
    constexpr int BitsPerCharacter() const { return 1 + dataBits + (parity ? 1 : 0) + stopBits; }
    // Time of one character on the wire (zero for the bare pty).
    constexpr std::chrono::nanoseconds CharTime() const {
        if (baud <= 0) {
            return std::chrono::nanoseconds{0};
        }
        return std::chrono::nanoseconds{1'000'000'000LL * BitsPerCharacter() / baud};
    }
    // Time of `count` characters sent back to back.
    constexpr std::chrono::nanoseconds WireTime(std::size_t count) const {
        return CharTime() * static_cast<long long>(count);
    }
};

// The register's rate where a test or the tool names none: the common rate of the shops'
// registers, and the one the link tests configure on their workers.
inline constexpr LineRate kDefaultLineRate = LineRate::Baud(9600);

}  // namespace tallyport::sim
