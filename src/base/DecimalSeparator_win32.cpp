#include <windows.h>

#include <string>

#include "base/DecimalSeparator.h"

namespace tallyport {

char DecimalSeparatorOfLocale(const char* localeName) {
    const std::string name(localeName == nullptr ? "" : localeName);
    if (name == "C" || name == "POSIX") {
        return '.';
    }
    // "ro_RO.UTF-8" is "ro-RO" to Windows: the language and region, without the encoding.
    std::wstring wide;
    for (char c : name.substr(0, name.find('.'))) {
        wide += c == '_' ? L'-' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    wchar_t separator[8] = {};
    const int length =
        ::GetLocaleInfoEx(wide.empty() ? LOCALE_NAME_USER_DEFAULT : wide.c_str(), LOCALE_SDECIMAL,
                          separator, static_cast<int>(std::size(separator)));
    // One character of ASCII, as the configuration file's numbers can carry it.
    if (length != 2 || separator[0] == 0 || separator[0] > 0x7F) {
        return '.';
    }
    return static_cast<char>(separator[0]);
}

}  // namespace tallyport
