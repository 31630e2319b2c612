#include "control/DisplayText.h"

#include <optional>

#include "base/Utf8Text.h"

namespace tallyport {
namespace {

// Unicode of the bytes 0x80 to 0xFF in Windows code page 1250.
constexpr char16_t kCp1250High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 0x98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // 0xA0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // 0xA8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // 0xB8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // 0xC0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // 0xC8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // 0xD0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // 0xD8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // 0xE0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // 0xE8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // 0xF0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // 0xF8
};

void AppendUtf8(std::string& text, char32_t code) {
    if (code < 0x80) {
        text.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (code >> 6)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        // The table holds nothing above U+FFFF.
        text.push_back(static_cast<char>(0xE0 | (code >> 12)));
        text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::string FromCp1250(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(text, byte < 0x80 ? char32_t{byte} : char32_t{kCp1250High[byte - 0x80]});
    }
    return text;
}

// The next character of well-formed UTF-8 `text` at `at`, which moves past it.
char32_t NextCharacter(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) {
        return lead;
    }
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t code = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        code = (code << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    return code;
}

// The UTF-8 text in code page 1250; nullopt when a character has no byte there.
std::optional<std::string> ToCp1250(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char32_t code = NextCharacter(text, at);
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
            continue;
        }
        int found = -1;
        for (int i = 0; i < 128 && found < 0; ++i) {
            if (kCp1250High[i] == code) {
                found = i;
            }
        }
        if (found < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(0x80 + found));
    }
    return bytes;
}

}  // namespace

std::string DisplayText(std::string_view bytes) {
    if (IsUtf8(bytes)) {
        return std::string(bytes);
    }
    return FromCp1250(bytes);
}

std::string StoredBytes(std::string_view shown, const std::string& original) {
    if (shown == DisplayText(original)) {
        return original;
    }
    if (!IsUtf8(original) && IsUtf8(shown)) {
        if (std::optional<std::string> bytes = ToCp1250(shown)) {
            return *bytes;
        }
    }
    return std::string(shown);
}

}  // namespace tallyport
