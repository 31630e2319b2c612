#include "serial/PortList.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <tuple>

#include "serial/PortListOrder.h"

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

// n of a "COM<n>" name with n from 1 up, or nullopt.
std::optional<unsigned long> ComNumber(const std::string& upperName) {
    constexpr std::string_view kCom = "COM";
    const std::string_view digits =
        std::string_view(upperName).substr(std::min(upperName.size(), kCom.size()));
    if (!upperName.starts_with(kCom) || digits.empty() || digits.size() > 9 || digits[0] == '0')
        return std::nullopt;
    unsigned long number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    return number;
}

}  // namespace

std::vector<SerialPortEntry> OrderPortEntries(const std::vector<std::string>& names,
                                              const std::map<std::string, std::string>& readable) {
    std::map<std::string, std::string> readableByUpper;
    for (const auto& [name, text] : readable)
        readableByUpper.emplace(UpperAscii(name), text);

    // Sort key: COM ports first by number, then the rest by name.
    using Key = std::tuple<bool, unsigned long, std::string>;
    std::map<Key, SerialPortEntry> ordered;
    for (const std::string& name : names) {
        if (name.empty())
            continue;
        const std::string upper = UpperAscii(name);
        const std::optional<unsigned long> number = ComNumber(upper);
        const Key key{!number.has_value(), number.value_or(0), number ? std::string() : name};
        if (ordered.count(key) != 0)
            continue;
        std::string description;
        if (auto found = readableByUpper.find(upper);
            found != readableByUpper.end() && UpperAscii(found->second) != upper) {
            description = found->second;
        }
        ordered.emplace(key, SerialPortEntry{name, std::move(description)});
    }
    std::vector<SerialPortEntry> entries;
    for (auto& [key, entry] : ordered)
        entries.push_back(std::move(entry));
    return entries;
}

std::vector<std::string> ListSerialPorts(const std::string& root) {
    std::vector<std::string> names;
    for (SerialPortEntry& entry : ListSerialPortEntries(root))
        names.push_back(std::move(entry.name));
    return names;
}

}  // namespace tallyport
