#include "base/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tallyport {

namespace {

constexpr int kSignificantDigits = 15;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string FormatGeneral(double value, char decimalSeparator) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "INF" : "-INF";
    }
    if (value == 0.0) {
        return "0";
    }
    // Round to 15 significant digits: d.dddddddddddddde±x
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                             kSignificantDigits - 1);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    bool negative = sci.front() == '-';
    if (negative) {
        sci.remove_prefix(1);
    }
    std::size_t ePos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, ePos)) {
        if (IsDigit(c)) {
            digits.push_back(c);
        }
    }
    int exponent = std::atoi(std::string(sci.substr(ePos + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }

    std::string out;
    if (negative) {
        out.push_back('-');
    }
    if (exponent >= kSignificantDigits || exponent < -5) {
        out.push_back(digits[0]);
        if (digits.size() > 1) {
            out.push_back(decimalSeparator);
            out.append(digits, 1, std::string::npos);
        }
        out.push_back('E');
        out.append(std::to_string(exponent));
    } else if (exponent < 0) {
        out.push_back('0');
        out.push_back(decimalSeparator);
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits);
    } else {
        std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out.append(digits);
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out.push_back(decimalSeparator);
            out.append(digits, intDigits, std::string::npos);
        }
    }
    return out;
}

std::optional<std::int32_t> ParseInteger(std::string_view text, IntegerSyntax syntax) {
    if (syntax.leadingBlanks) {
        while (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (syntax.hexPrefixes) {
        if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            text.remove_prefix(2);
        } else if (!text.empty() && text[0] == '$') {
            base = 16;
            text.remove_prefix(1);
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    if (base == 16 && !negative && magnitude <= 0xFFFFFFFFull) {
        // Hex text names the 32-bit pattern: $FFFFFFFF is -1.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    }
    constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int32_t>::max();
    if (negative ? magnitude > kMaxPositive + 1 : magnitude > kMaxPositive) {
        return std::nullopt;
    }
    std::int64_t signedValue =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(signedValue);
}

std::optional<std::int64_t> ParseInteger64(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDouble(std::string_view text, char decimalSeparator) {
    text = TrimBlanks(text);
    // Validate the shape by hand, then let from_chars convert a normalised copy.
    std::string normal;
    normal.reserve(text.size());
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            normal.push_back('-');
        }
        ++i;
    }
    std::size_t mantissaDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        normal.push_back(text[i++]);
        ++mantissaDigits;
    }
    if (i < text.size() && text[i] == decimalSeparator) {
        normal.push_back('.');
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            normal.push_back(text[i++]);
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        normal.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            normal.push_back(text[i++]);
        }
        std::size_t exponentDigits = 0;
        while (i < text.size() && IsDigit(text[i])) {
            normal.push_back(text[i++]);
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    double value = 0;
    const char* first = normal.data();
    if (*first == '-') {
        ++first;
    }
    auto res = std::from_chars(first, normal.data() + normal.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        return std::nullopt;
    }
    if (res.ec != std::errc() || res.ptr != normal.data() + normal.size()) {
        return std::nullopt;
    }
    return normal.front() == '-' ? -value : value;
}

}  // namespace tallyport
