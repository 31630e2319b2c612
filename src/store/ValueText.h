#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::detail {

// The number and boolean rules of the table files, shared by the file reader and by setting
// a column from text: integers in decimal with leading blanks allowed, doubles with "." and
// optional blanks around them, booleans true only for exactly "True".
std::optional<std::int32_t> ParseTableInteger(std::string_view text);
std::optional<double> ParseTableDouble(std::string_view text);
inline bool ParseTableBoolean(std::string_view text) {
    return text == "True";
}

std::string NotIntegerMessage(std::string_view value, std::string_view field);
std::string NotFloatMessage(std::string_view value, std::string_view field);

// "%s" of a message filled with `argument`.
std::string FillIn(std::string_view message, std::string_view argument);

}  // namespace tallyport::detail
