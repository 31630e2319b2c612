#include "base/Utf8Text.h"

namespace tallyport {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 character at `at`, or 0 when there is none.
std::size_t CharacterAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range, narrowed where forms are forbidden
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong form
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong form
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(i))) {
            return 0;
        }
    }
    return length;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharacterAt(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::size_t CutPoint(std::string_view text, std::size_t width) {
    if (text.size() <= width) {
        return text.size();
    }
    // A character that the cut splits begins at most three bytes before it.
    for (std::size_t back = 1; back <= 3 && back <= width; ++back) {
        const std::size_t start = width - back;
        if (!IsContinuation(static_cast<unsigned char>(text[start]))) {
            const std::size_t length = CharacterAt(text, start);
            return length > back ? start : width;
        }
    }
    return width;
}

}  // namespace tallyport
