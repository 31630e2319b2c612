#include "store/ValueText.h"

#include <charconv>

#include "base/NumberText.h"

namespace tallyport::detail {

std::optional<std::int32_t> ParseTableInteger(std::string_view text) {
    return ParseInteger(text, IntegerSyntax{.leadingBlanks = true});
}

std::optional<double> ParseTableDouble(std::string_view text) {
    // Prices are nearly always plain ("12.5", "-3"): convert those directly, with the same
    // result as the general parser gives, and leave every other shape to it.
    const char* p = text.data();
    const char* end = p + text.size();
    if (p != end && *p == '-') {
        ++p;
    }
    const char* digits = p;
    while (p != end && *p >= '0' && *p <= '9') {
        ++p;
    }
    std::size_t count = static_cast<std::size_t>(p - digits);
    if (p != end && *p == '.') {
        ++p;
        const char* fraction = p;
        while (p != end && *p >= '0' && *p <= '9') {
            ++p;
        }
        count += static_cast<std::size_t>(p - fraction);
    }
    if (p == end && count > 0) {
        double value = 0;
        auto result = std::from_chars(text.data(), end, value);
        if (result.ec == std::errc() && result.ptr == end) {
            return value;
        }
        if (result.ec == std::errc::result_out_of_range) {
            return std::nullopt;
        }
    }
    return ParseDouble(text, '.');
}

std::string FillIn(std::string_view message, std::string_view argument) {
    std::string out(message);
    std::size_t at = out.find("%s");
    if (at != std::string::npos) {
        out.replace(at, 2, argument);
    }
    return out;
}

std::string NotIntegerMessage(std::string_view value, std::string_view field) {
    std::string out = "'";
    out.append(value).append("' is not a valid integer value for field '");
    out.append(field).append("'");
    return out;
}

std::string NotFloatMessage(std::string_view value, std::string_view field) {
    std::string out = "'";
    out.append(value).append("' is not a valid floating point value for field '");
    out.append(field).append("'");
    return out;
}

}  // namespace tallyport::detail
