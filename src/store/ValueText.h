#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::detail {

// The number and boolean rules of the table files, shared by the file reader and by setting
// a column from text: integers in decimal with leading blanks allowed, doubles with "." and
// optional blanks around them, booleans true only for exactly "True". The common plain shapes
// are converted inline (they are most of an article file); every other shape goes to the
// general parsers, with the same results.

std::optional<std::int32_t> ParseTableIntegerSlow(std::string_view text);
std::optional<double> ParseTableDoubleSlow(std::string_view text);

inline std::optional<std::int32_t> ParseTableInteger(std::string_view text) {
    // A few plain digits cannot overflow and need no other rule.
    if (!text.empty() && text.size() <= 9) {
        std::int32_t value = 0;
        std::size_t i = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        if (i == text.size()) {
            return value;
        }
    }
    return ParseTableIntegerSlow(text);
}

inline std::optional<double> ParseTableDouble(std::string_view text) {
    // A plain decimal ("12.5", "-3") whose digits fit 2^53 and whose fraction has at most 22
    // digits is an exact integer divided by an exact power of ten: the one division rounds
    // correctly, so the result is the one the general parser gives.
    constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text.data();
    const char* end = p + text.size();
    const bool negative = p != end && *p == '-';
    if (negative) {
        ++p;
    }
    std::uint64_t mantissa = 0;
    std::size_t digits = 0;
    std::size_t fractionDigits = 0;
    for (; p != end && *p >= '0' && *p <= '9' && digits < 19; ++p, ++digits) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (p != end && *p == '.') {
        for (++p; p != end && *p >= '0' && *p <= '9' && digits < 19;
             ++p, ++digits, ++fractionDigits) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        }
    }
    if (p == end && digits > 0 && mantissa <= (std::uint64_t{1} << 53) && fractionDigits <= 22) {
        double value = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
        return negative ? -value : value;
    }
    return ParseTableDoubleSlow(text);
}

inline bool ParseTableBoolean(std::string_view text) {
    return text == "True";
}

std::string NotIntegerMessage(std::string_view value, std::string_view field);
std::string NotFloatMessage(std::string_view value, std::string_view field);

// "%s" of a message filled with `argument`.
std::string FillIn(std::string_view message, std::string_view argument);

}  // namespace tallyport::detail
