#include "store/ValueText.h"

#include "base/NumberText.h"

namespace tallyport::detail {

std::optional<std::int32_t> ParseTableIntegerSlow(std::string_view text) {
    return ParseInteger(text, IntegerSyntax{.leadingBlanks = true});
}

std::optional<double> ParseTableDoubleSlow(std::string_view text) {
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
