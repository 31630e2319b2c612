#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "serial/PortList.h"

namespace tallyport {
namespace {

namespace fs = std::filesystem;

// The number after `prefix` when `name` is the prefix followed by decimal digits only.
std::optional<unsigned long> NumberAfter(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix ||
        name.size() - prefix.size() > 9) {
        return std::nullopt;
    }
    unsigned long number = 0;
    for (char c : name.substr(prefix.size())) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    return number;
}

// The names in `folder` (any kind of entry); none when it cannot be read.
std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

// A ttyS<n> exists for every possible legacy port, fitted or not. The driver tells the fitted
// ones by a device link and a UART type other than 0 ("unknown") in the tty class folder.
bool HasUart(const fs::path& sysTty, const std::string& name) {
    std::error_code error;
    if (!fs::exists(sysTty / name / "device", error)) {
        return false;
    }
    std::ifstream type(sysTty / name / "type");
    int kind = 0;
    if (!type || !(type >> kind)) {
        return true;  // a device without the type attribute: offered, the user decides
    }
    return kind != 0;
}

// The numbered names of one kind, in number order.
std::vector<std::string> Numbered(const std::vector<std::string>& names, std::string_view prefix) {
    std::vector<std::pair<unsigned long, std::string>> found;
    for (const std::string& name : names) {
        if (auto number = NumberAfter(name, prefix)) {
            found.emplace_back(*number, name);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> result;
    for (auto& entry : found) {
        result.push_back(std::move(entry.second));
    }
    return result;
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPortEntries(const std::string& root) {
    const fs::path base(root.empty() ? std::string("/") : root);
    const std::vector<std::string> dev = NamesIn(base / "dev");
    std::vector<SerialPortEntry> ports;
    for (const std::string& name : Numbered(dev, "ttyS")) {
        if (HasUart(base / "sys/class/tty", name)) {
            ports.push_back({"/dev/" + name, {}});
        }
    }
    for (std::string_view prefix : {"ttyUSB", "ttyACM"}) {
        for (const std::string& name : Numbered(dev, prefix)) {
            ports.push_back({"/dev/" + name, {}});
        }
    }
    // The stable names: by-id tells the adapter by its maker, model and serial number; by-path
    // tells it by the socket it is plugged into, which is all that tells apart two adapters
    // without a serial number (most CH340 and PL2303), whose by-id names are one and the same.
    for (const char* folder : {"dev/serial/by-id", "dev/serial/by-path"}) {
        std::vector<std::string> stable = NamesIn(base / folder);
        std::sort(stable.begin(), stable.end());
        for (const std::string& name : stable) {
            ports.push_back({"/" + std::string(folder) + "/" + name, {}});
        }
    }
    return ports;
}

}  // namespace tallyport
