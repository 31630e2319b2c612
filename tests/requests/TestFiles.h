#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/DecimalSeparator.h"

namespace tallyport::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tallyport-req-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The CR LF terminated lines of a file; a last line without CR LF is returned with a marker so
// that a torn line shows up in a comparison.
inline std::vector<std::string> ReadCrLfLines(const std::string& path) {
    std::string bytes = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Sets the regional decimal separator for one scope and puts "." back at its end, also when a
// failed assertion leaves the test early.
class RegionalSeparatorScope {
public:
    explicit RegionalSeparatorScope(char separator) { SetRegionalDecimalSeparator(separator); }
    ~RegionalSeparatorScope() { SetRegionalDecimalSeparator('.'); }
    RegionalSeparatorScope(const RegionalSeparatorScope&) = delete;
    RegionalSeparatorScope& operator=(const RegionalSeparatorScope&) = delete;
};

}  // namespace tallyport::testing
