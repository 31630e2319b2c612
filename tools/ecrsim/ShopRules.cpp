#include "ecrsim/ShopRules.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tallyport::ecrsim {

namespace {

constexpr double kInt64Limit = 9223372036854775808.0;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The 15 significant digits of a magnitude, without trailing zeros, and the decimal exponent
// of the first one: 12.34 gives "1234" and 1 (1.234 x 10^1).
struct Digits {
    std::string digits;
    int exponent = 0;
};

Digits SignificantDigits(double magnitude) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", magnitude);  // d.dddddddddddddde+XX
    Digits out;
    const char* p = buffer;
    for (; *p != 'e'; ++p) {
        if (*p != '.') {
            out.digits += *p;
        }
    }
    out.exponent = std::atoi(p + 1);
    while (out.digits.size() > 1 && out.digits.back() == '0') {
        out.digits.pop_back();
    }
    return out;
}

}  // namespace

std::string GeneralNumber(double value) {
    if (value == 0 || !std::isfinite(value)) {
        return value == 0 ? "0" : (std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF"));
    }
    const Digits d = SignificantDigits(std::fabs(value));
    std::string text = value < 0 ? "-" : "";
    if (d.exponent >= -5 && d.exponent < 15) {
        if (d.exponent < 0) {
            text += "0.";
            text.append(static_cast<std::size_t>(-d.exponent - 1), '0');
            text += d.digits;
        } else {
            const auto integerDigits = static_cast<std::size_t>(d.exponent) + 1;
            if (d.digits.size() <= integerDigits) {
                text += d.digits;
                text.append(integerDigits - d.digits.size(), '0');
            } else {
                text += d.digits.substr(0, integerDigits);
                text += '.';
                text += d.digits.substr(integerDigits);
            }
        }
        return text;
    }
    text += d.digits.substr(0, 1);
    if (d.digits.size() > 1) {
        text += '.';
        text += d.digits.substr(1);
    }
    text += 'E';
    text += std::to_string(d.exponent);
    return text;
}

std::string PadLeft(std::string_view text, std::size_t width, char pad) {
    std::string out;
    if (text.size() < width) {
        out.assign(width - text.size(), pad);
    }
    out += text;
    return out;
}

std::string PadRight(std::string_view text, std::size_t width, char pad) {
    std::string out(text);
    if (out.size() < width) {
        out.append(width - out.size(), pad);
    }
    return out;
}

std::string WithoutFirstPoint(std::string_view text) {
    std::string out(text);
    if (auto dot = out.find('.'); dot != std::string::npos) {
        out.erase(dot, 1);
    }
    return out;
}

std::string WithoutPoints(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '.') {
            out += c;
        }
    }
    return out;
}

std::optional<double> ParseNumber(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty()) {
        return std::nullopt;
    }
    // from_chars takes no "+"; the digits must begin right after the sign.
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() ||
        !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
        return std::nullopt;
    }
    double value = 0;
    auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<std::int64_t> ParseWhole(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> RoundToDecimals(std::uint8_t decimals, double value) {
    const double magnitude = std::fabs(value);
    if (!std::isfinite(value) || !(magnitude * std::pow(10.0, decimals) < kInt64Limit)) {
        return std::nullopt;
    }
    if (magnitude == 0) {
        return 0.0;
    }
    // Work on the decimal digits: integer part and fraction as text.
    const Digits d = SignificantDigits(magnitude);
    std::string all = d.digits;
    long point = d.exponent + 1;  // digits before the decimal point
    if (point < 0) {
        all.insert(0, static_cast<std::size_t>(-point), '0');
        point = 0;
    }
    if (static_cast<std::size_t>(point) > all.size()) {
        all.append(static_cast<std::size_t>(point) - all.size(), '0');
    }
    const std::size_t keep = static_cast<std::size_t>(point) + decimals;
    std::string kept = all.substr(0, std::min(keep, all.size()));
    kept.append(keep - kept.size(), '0');
    bool roundUp = keep < all.size() && all[keep] >= '5';
    if (roundUp) {
        std::size_t i = kept.size();
        for (; i > 0; --i) {
            if (kept[i - 1] != '9') {
                ++kept[i - 1];
                break;
            }
            kept[i - 1] = '0';
        }
        if (i == 0) {
            kept.insert(0, "1");
        }
    }
    const std::size_t integerLength = kept.size() - decimals;
    std::string text = integerLength == 0 ? "0" : kept.substr(0, integerLength);
    if (decimals > 0) {
        text += '.';
        text += kept.substr(integerLength);
    }
    const double rounded = std::strtod(text.c_str(), nullptr);
    return value < 0 ? -rounded : rounded;
}

std::string ReplyPrice(double value, bool recDecimals) {
    if (!recDecimals) {
        return GeneralNumber(value);
    }
    const double magnitude = std::fabs(value);
    double units = std::trunc(magnitude);
    double hundredths = std::nearbyint((magnitude - units) * 100.0);  // ties to even
    if (hundredths >= 100.0) {
        units += 1.0;
        hundredths -= 100.0;
    }
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", units);
    std::string text = buffer;
    text += PadLeft(std::to_string(static_cast<int>(hundredths)), 2, '0');
    if (value < 0 && (units > 0 || hundredths > 0)) {
        text.insert(0, "-");
    }
    return text;
}

std::string LinkName(std::string_view name) {
    std::string cut(name.substr(0, std::min<std::size_t>(22, name.size())));
    for (char& c : cut) {
        if (c == ';' || static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    std::size_t first = 0;
    while (first < cut.size() && static_cast<unsigned char>(cut[first]) <= 0x20) {
        ++first;
    }
    std::size_t last = cut.size();
    while (last > first && static_cast<unsigned char>(cut[last - 1]) <= 0x20) {
        --last;
    }
    return cut.substr(first, last - first);
}

std::string RegisterField(int logicalNb) {
    return PadLeft(std::to_string(logicalNb), 4, '0');
}

std::string QuantityField(double quantity) {
    std::string field(1, quantity > 0 ? '+' : '-');
    field += PadLeft(GeneralNumber(std::fabs(quantity)), 10, '0');
    return field;
}

std::string TranLineHead(const TranFields& f) {
    const double quantity = ParseNumber(f.quantityText).value_or(0.0);
    std::string line = RegisterField(f.logicalNb);
    for (const std::string& field :
         {PadLeft(f.operatorNo, 2, '0'), PadLeft(f.receiptNo, 4, '0'),
          PadLeft(f.articleCode, 13, '0'), PadLeft(f.priceText, 8, '0'), f.commaText,
          QuantityField(quantity), PadRight(f.name, 40, ' '), PadLeft(f.deptText, 2, '0'),
          f.vatText, PadLeft(f.zReportNo, 5, '0')}) {
        line += ',';
        line += field;
    }
    line += ',';
    return line;
}

std::string PaymentTypeDigit(int code) {
    switch (code) {
        case 0:
            return "0";
        case 1:
            return "1";
        case 2:
            return "3";
        case 3:
            return "2";
        default:
            return "";
    }
}

std::string BonLineHead(const BonFields& f) {
    std::string line = RegisterField(f.logicalNb);
    for (const std::string& field :
         {PadLeft(f.operatorNo, 2, '0'), PadLeft(f.receiptNo, 4, '0'),
          PaymentTypeDigit(f.paymentCode), f.amountFlag, PadLeft(f.amount1, 10, '0'),
          PadLeft(f.amount2, 10, '0'), f.commaText, PadLeft(f.cardReference, 13, '0')}) {
        line += ',';
        line += field;
    }
    line += ',';
    return line;
}

std::string BonLineTail(const BonFields& f) {
    return "," + PadLeft(f.zReportNo, 5, '0');
}

std::string ClosingAmount(std::string_view received, std::string_view commaText, bool recDecimals) {
    std::string amount = received.empty() ? "0" : std::string(received);
    if (recDecimals || commaText.empty()) {
        return amount;
    }
    const auto comma = ParseWhole(commaText);
    const auto value = ParseNumber(amount);
    if (!comma || !value) {
        return amount;
    }
    const auto scale = static_cast<int>(static_cast<std::uint32_t>(*comma) - 1u);
    return GeneralNumber(*value * std::pow(10.0, scale));
}

std::string PerRegisterFileName(std::string_view name, int logicalNb) {
    std::string_view extension;
    const auto dot = name.rfind('.');
    const auto separator = name.find_last_of("/\\:");
    if (dot != std::string_view::npos && (separator == std::string_view::npos || dot > separator)) {
        extension = name.substr(dot);
    }
    return std::string(name) + std::to_string(logicalNb) + std::string(extension);
}

std::string DateText(const std::tm& t) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%02d", t.tm_mday, t.tm_mon + 1,
                  (t.tm_year + 1900) % 100);
    return buffer;
}

std::string TimeText(const std::tm& t) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", t.tm_hour, t.tm_min);
    return buffer;
}

char Ean13CheckDigit(std::string_view twelveDigits) {
    int sum = 0;
    for (std::size_t i = 0; i < twelveDigits.size() && i < 12; ++i) {
        const int digit = twelveDigits[i] - '0';
        sum += (i % 2 == 0) ? digit : 3 * digit;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

}  // namespace tallyport::ecrsim
