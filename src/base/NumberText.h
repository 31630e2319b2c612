#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// The general floating format every module writes numbers in: at most 15 significant digits,
// shortest form (no trailing zeros, no separator for whole numbers), plain notation when the
// value has at most 15 integer digits and a magnitude of at least 0.00001 (or is zero),
// otherwise scientific with "E" and a bare exponent ("1E20", "1.5E-7", "-2.5E-9").
// `decimalSeparator` is "." for the register link and the table files, the regional
// separator for the configuration file and the window.
std::string FormatGeneral(double value, char decimalSeparator);

// Options of ParseInteger.
struct IntegerSyntax {
    bool leadingBlanks = false;  // table files allow blanks before the digits
    bool hexPrefixes = false;    // the configuration file reads "0x1A", "0X1A" and "$1A"
};

// Strict 32-bit signed integer: optional sign, decimal digits (or hex digits after a prefix
// when allowed), nothing else. Out of range or any stray character gives nullopt.
std::optional<std::int32_t> ParseInteger(std::string_view text, IntegerSyntax syntax = {});

// Strict 64-bit variant for quantities and weights computed by the request handlers.
std::optional<std::int64_t> ParseInteger64(std::string_view text);

// Strict floating number: optional blanks, optional sign, digits with an optional separator
// and fraction (at least one digit in all), optional exponent introduced by "E" or "e" with an
// optional sign, optional blanks. Anything else gives nullopt.
std::optional<double> ParseDouble(std::string_view text, char decimalSeparator);

}  // namespace tallyport
