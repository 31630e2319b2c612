#include "store/IniProfile.h"

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "base/FileReplace.h"
#include "store/FileBytes.h"
#include "store/StoreError.h"

namespace tallyport {

namespace {

constexpr std::string_view kNewLineEnd = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// One line of the text: [begin, contentEnd) is its content, [contentEnd, end) its line end
// (empty for a last line without one).
struct Line {
    std::size_t begin = 0;
    std::size_t contentEnd = 0;
    std::size_t end = 0;
};

Line LineAt(std::string_view text, std::size_t begin) {
    Line line{begin, begin, begin};
    while (line.contentEnd < text.size() && !IsLineBreak(text[line.contentEnd])) {
        ++line.contentEnd;
    }
    line.end = line.contentEnd;
    if (line.end < text.size() && text[line.end] == '\r') {
        ++line.end;
    }
    if (line.end < text.size() && text[line.end] == '\n' &&
        (line.end == line.contentEnd || text[line.end - 1] == '\r')) {
        ++line.end;
    }
    return line;
}

enum class LineKind { Blank, Comment, Header, Entry, Other };

// What a line holds; `name` is the section or key name and, for an entry, `equals` is the offset
// of its "=" within the content.
struct LineMeaning {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::size_t equals = 0;
};

LineMeaning Classify(std::string_view content) {
    std::string_view body = TrimBlanks(content);
    if (body.empty()) {
        return {LineKind::Blank, {}, 0};
    }
    if (body.front() == '[') {
        body.remove_prefix(1);
        // A header missing its "]" still opens a section named by the rest of the line.
        return {LineKind::Header, TrimBlanks(body.substr(0, body.find(']'))), 0};
    }
    if (body.front() == ';') {
        return {LineKind::Comment, {}, 0};
    }
    std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return {LineKind::Other, {}, 0};
    }
    return {LineKind::Entry, TrimBlanks(content.substr(0, equals)), equals};
}

// Where a section and one of its keys stand in the text.
struct EntryPlace {
    bool sectionFound = false;
    std::optional<Line> entry;  // the first line holding the key
    std::size_t equals = 0;     // offset of the entry's "=" within its content
    Line lastFilled;            // the section's last line that is not blank
};

EntryPlace Locate(std::string_view text, std::string_view section, std::string_view key) {
    EntryPlace place;
    for (std::size_t at = 0; at < text.size();) {
        Line line = LineAt(text, at);
        at = line.end;
        LineMeaning meaning = Classify(text.substr(line.begin, line.contentEnd - line.begin));
        if (!place.sectionFound) {
            if (meaning.kind == LineKind::Header && SameName(meaning.name, section)) {
                place.sectionFound = true;
                place.lastFilled = line;
            }
            continue;
        }
        if (meaning.kind == LineKind::Header) {
            break;  // later sections of the same name are never looked at
        }
        if (meaning.kind == LineKind::Entry && SameName(meaning.name, key)) {
            place.entry = line;
            place.equals = meaning.equals;
            break;
        }
        if (meaning.kind != LineKind::Blank) {
            place.lastFilled = line;
        }
    }
    return place;
}

std::string_view ValueAsRead(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    // Trimmed again after the cut, so that a value read never ends in a blank and reads back
    // the same after it has been written.
    return TrimBlanks(TrimBlanks(raw).substr(0, kProfileValueMax));
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && TrimBlanks(name).size() == name.size() && !HasLineBreakOrNul(name);
}

bool EndsWithLineEnd(std::string_view text) {
    return !text.empty() && IsLineBreak(text.back());
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    EntryPlace place = Locate(text, section, key);
    if (!place.entry) {
        return std::nullopt;
    }
    const Line& line = *place.entry;
    std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    return std::string(ValueAsRead(content.substr(place.equals + 1)));
}

bool IsStorableProfileEntry(std::string_view section, std::string_view key,
                            std::string_view value) {
    return IsPlainName(section) && section.find(']') == std::string_view::npos &&
           IsPlainName(key) && key.find('=') == std::string_view::npos && key.front() != '[' &&
           key.front() != ';' && !HasLineBreakOrNul(value);
}

std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value) {
    if (!IsStorableProfileEntry(section, key, value)) {
        throw std::invalid_argument("entry cannot be stored in a profile");
    }
    EntryPlace place = Locate(text, section, key);
    std::string result;
    result.reserve(text.size() + section.size() + key.size() + value.size() + 8);

    if (place.entry) {
        // Keep the key as spelled and the blanks after "="; only the value changes.
        const Line& line = *place.entry;
        std::size_t keep = line.begin + place.equals + 1;
        while (keep < line.contentEnd && IsBlank(text[keep])) {
            ++keep;
        }
        result.append(text.substr(0, keep));
        result.append(value);
        result.append(text.substr(line.contentEnd));
        return result;
    }

    std::string addition;
    std::size_t insertAt = text.size();
    if (place.sectionFound) {
        insertAt = place.lastFilled.end;
        if (place.lastFilled.end == place.lastFilled.contentEnd) {
            addition.append(kNewLineEnd);  // the section's last line ended the file unended
        }
    } else {
        if (!text.empty() && !EndsWithLineEnd(text)) {
            addition.append(kNewLineEnd);
        }
        addition.append("[").append(section).append("]").append(kNewLineEnd);
    }
    addition.append(key).append("=").append(value).append(kNewLineEnd);

    result.append(text.substr(0, insertAt));
    result.append(addition);
    result.append(text.substr(insertAt));
    return result;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
    std::optional<std::string> bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const std::system_error& e) {
        throw StoreError("Unable to read " + path, e.code().value());
    }
    if (bytes) {
        if (std::optional<std::string> value = FindProfileValue(*bytes, section, key)) {
            return std::move(*value);
        }
    }
    return std::string(
        WithoutTrailingBlanks(WithoutTrailingBlanks(defaultValue).substr(0, kProfileValueMax)));
}

void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    const std::string failure = "Unable to write to " + path;
    if (!IsStorableProfileEntry(section, key, value)) {
        throw StoreError(failure, InvalidArgumentError());
    }
    std::optional<std::string> old;
    try {
        old = ReadFileBytes(path);
    } catch (const std::system_error& e) {
        throw StoreError(failure, e.code().value());
    }
    std::string updated = WithProfileValue(old.value_or(std::string()), section, key, value);
    if (old && updated == *old) {
        return;
    }
    if (ReplaceOutcome outcome = ReplaceFile(path, updated); !outcome.Ok()) {
        throw StoreError(failure, outcome.error);
    }
}

}  // namespace tallyport
