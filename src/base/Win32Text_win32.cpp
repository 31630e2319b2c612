#include <windows.h>

#include "base/Win32Text.h"

namespace tallyport::win32 {

std::optional<std::wstring> WideFromAnsi(std::string_view bytes) {
    if (bytes.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(bytes.size());
    // MB_ERR_INVALID_CHARS: a byte the code page leaves undefined fails instead of becoming a
    // default character that would name another file.
    const int length =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), length);
    // Some code pages map two byte forms to one character: only a name that comes back as the
    // same bytes is the name that was asked for.
    const std::optional<std::string> back = AnsiFromWide(wide);
    if (!back || *back != bytes) {
        return std::nullopt;
    }
    return wide;
}

std::optional<std::string> AnsiFromWide(std::wstring_view text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(text.size());
    BOOL defaulted = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size,
                                             nullptr, 0, nullptr, &defaulted);
    if (length <= 0 || defaulted) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, bytes.data(), length,
                          nullptr, &defaulted);
    if (defaulted) {
        return std::nullopt;
    }
    return bytes;
}

std::string AnsiPath(const std::wstring& path) {
    if (std::optional<std::string> bytes = AnsiFromWide(path)) {
        return *bytes;
    }
    const DWORD length = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (length == 0) {
        return {};
    }
    std::wstring shortPath(length, L'\0');
    const DWORD written = ::GetShortPathNameW(path.c_str(), shortPath.data(), length);
    if (written == 0 || written >= length) {
        return {};
    }
    shortPath.resize(written);
    return AnsiFromWide(shortPath).value_or(std::string());
}

std::string SystemErrorText(unsigned long code) {
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "Windows error " + std::to_string(code) : text;
}

}  // namespace tallyport::win32
