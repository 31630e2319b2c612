#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include "base/Win32Text.h"
#include "console_win32/Arguments.h"

namespace tallyport {

std::optional<std::vector<std::string>> ProgramArguments(std::string& failed) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>{"tallyport"};
    }
    std::vector<std::string> arguments;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        std::optional<std::string> bytes = win32::AnsiFromWide(wide[i]);
        if (!bytes) {
            // Only a name of an existing file has a short form to fall back on.
            std::string shortName = win32::AnsiPath(wide[i]);
            if (shortName.empty()) {
                failed = std::to_string(i);
                ok = false;
                break;
            }
            bytes = std::move(shortName);
        }
        arguments.push_back(std::move(*bytes));
    }
    ::LocalFree(wide);
    if (!ok) {
        return std::nullopt;
    }
    return arguments;
}

}  // namespace tallyport
