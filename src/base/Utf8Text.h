#pragma once

#include <cstddef>
#include <string_view>

namespace tallyport {

// The program keeps texts as the bytes of the user's files (an 8-bit code page, or UTF-8) and
// never re-encodes them. These helpers only look at the bytes. Free functions: any thread.

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF). Plain ASCII is.
bool IsUtf8(std::string_view text);

// Where `text` is cut to at most `width` bytes: `width` itself, unless the cut would fall inside
// a well-formed UTF-8 character, which then goes whole (the cut moves back to its first byte).
// Bytes that do not form a UTF-8 character there (a single-byte code page) are cut at `width`.
std::size_t CutPoint(std::string_view text, std::size_t width);

// The first CutPoint(text, width) bytes of `text`.
inline std::string_view CutToWidth(std::string_view text, std::size_t width) {
    return text.substr(0, CutPoint(text, width));
}

}  // namespace tallyport
