#pragma once

#include <string>
#include <vector>

#include "support/TempFolder.h"

namespace tallyport::testing {

// The shared folder and file helpers, by the names these suites use.
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

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

}  // namespace tallyport::testing
