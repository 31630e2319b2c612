#pragma once

#include <chrono>
#include <cstdint>

namespace tallyport {

// A millisecond tick counter that wraps at 2^32 like the platform's; differences taken as
// unsigned 32-bit values survive the wrap.
inline std::uint32_t TickCountMs() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// Milliseconds from `start` to `now`, modulo 2^32.
inline std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) {
    return now - start;
}

}  // namespace tallyport
