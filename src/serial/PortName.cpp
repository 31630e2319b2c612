#include "serial/PortName.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

namespace tallyport {
namespace {

std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

// A whole decimal integer (optional minus sign), or nullopt.
std::optional<std::int64_t> DecimalInteger(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return !text.empty();
}

bool FitsInt(std::int64_t value) {
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

}  // namespace

int PortNumberFromName(std::string_view name) {
    const std::string upper = UpperAscii(name);
    constexpr std::string_view kCom = "COM";
    constexpr std::string_view kTtyS = "/DEV/TTYS";
    if (upper.starts_with(kCom)) {
        std::optional<std::int64_t> n = DecimalInteger(std::string_view(upper).substr(kCom.size()));
        if (!n || !FitsInt(*n - 1))
            return -1;  // not a number counts as 0
        return static_cast<int>(*n - 1);
    }
    // Only digits make a legacy port's number: the kernel names other UARTs ttyS followed by
    // letters (ttySC0, ttySTM0, ttySAC0), and those are opened by their own names.
    if (upper.starts_with(kTtyS)) {
        const std::string_view digits = std::string_view(upper).substr(kTtyS.size());
        std::optional<std::int64_t> n = DecimalInteger(digits);
        if (AllDigits(digits) && n && FitsInt(*n))
            return static_cast<int>(*n);
    }
    return -1;
}

ResolvedPortName ResolvePortName(const std::string& name) {
    ResolvedPortName resolved;
    resolved.portNumber = PortNumberFromName(name);
    resolved.devicePath = resolved.portNumber == -1 ? name : DevicePathForPort(resolved.portNumber);
    return resolved;
}

}  // namespace tallyport
