#include "ecrsim/ShopSettings.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "ecrsim/ShopRules.h"

namespace tallyport::ecrsim {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::optional<long long> IniInteger(const std::string& value) {
    std::string digits = value;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        base = 16;
    } else if (digits.size() > 1 && digits[0] == '$') {
        digits.erase(0, 1);
        base = 16;
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::size_t used = 0;
    try {
        const long long number = std::stoll(digits, &used, base);
        if (used == digits.size()) {
            return number;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<double> IniDouble(std::string value) {
    if (auto number = ParseNumber(value)) {
        return number;
    }
    for (char& c : value) {
        c = c == ',' ? '.' : c;
    }
    return ParseNumber(value);
}

}  // namespace

std::optional<std::string> IniValue(const std::string& text, const std::string& section,
                                    const std::string& key) {
    std::istringstream in(text);
    std::string line;
    std::string current;
    const std::string wantedSection = Lower(section);
    const std::string wantedKey = Lower(key);
    while (std::getline(in, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';') {
            continue;
        }
        if (trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            current = Lower(Trim(
                trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            continue;
        }
        const auto equals = trimmed.find('=');
        if (current == wantedSection && equals != std::string::npos &&
            Lower(Trim(trimmed.substr(0, equals))) == wantedKey) {
            return Trim(trimmed.substr(equals + 1));
        }
    }
    return std::nullopt;
}

bool ReadConfigFile(const std::string& path, ShopSettings& settings) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    auto text_ = [&](const char* section, const char* key, std::string& field) {
        if (auto value = IniValue(text, section, key)) {
            field = *value;
        }
    };
    auto boolean = [&](const char* key, bool& field) {
        if (auto value = IniValue(text, "Options", key)) {
            if (auto number = IniInteger(*value)) {
                field = *number != 0;
            }
        }
    };
    auto real = [&](const char* key, double& field) {
        if (auto value = IniValue(text, "CardOptions", key)) {
            if (auto number = IniDouble(*value)) {
                field = *number;
            }
        }
    };
    text_("Files", "PLU", settings.pluFile);
    text_("Files", "ReceiptMaster", settings.receiptMaster);
    text_("Files", "ReceiptDetail", settings.receiptDetail);
    text_("Files", "ECRList", settings.ecrList);
    real("Min", settings.cardMin);
    real("Max", settings.cardMax);
    if (auto value = IniValue(text, "Scale", "Prefix")) {
        if (auto number = IniInteger(*value)) {
            settings.scalePrefix = static_cast<int>(*number);
        }
    }
    boolean("RecDiscount", settings.recDiscount);
    boolean("RecAmount", settings.recAmount);
    boolean("RecSepFiles", settings.recSepFiles);
    boolean("RecDecimals", settings.recDecimals);
    return true;
}

}  // namespace tallyport::ecrsim
