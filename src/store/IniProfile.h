#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// Single values of an INI-form file ("[Section]" header lines and "Key=Value" entry lines), read
// and written one at a time with no cache: every call goes to the file.
//
// - Section and key names match without regard to ASCII letter case; blanks (spaces, tabs)
//   around names and values do not count. The first matching section is the section, and the
//   first matching key in it is the entry; later duplicates are never read or changed.
// - Lines end in CR LF, LF or a lone CR. Lines starting with ";" are comments; lines that are
//   neither headers nor entries (no "=") are kept but never match.
// - Bytes are the system's 8-bit code page and are never re-encoded; a value read stops at a
//   NUL byte and is cut to kProfileValueMax characters (blanks that the cut leaves at its end
//   are dropped too, so that a value read never has surrounding blanks).
// - A write changes only the entry's value (or adds the entry at the end of its section, or the
//   section at the end of the file) and keeps every other byte of the file; new lines end in
//   CR LF.
//
// Free functions without shared state; callers serialise writes to the same file.

// The longest value a read gives.
inline constexpr std::size_t kProfileValueMax = 2047;

// The value of `key` in `section` of the file's text, as a read gives it; nullopt when the
// section or the key is missing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// Whether a write of this entry keeps the file readable as intended: names not empty, without
// surrounding blanks or line breaks, a section name without "]", a key without "=" that does not
// start like a header or a comment; a value without line breaks or NUL bytes (which would cut
// the value or slip another line into the file).
bool IsStorableProfileEntry(std::string_view section, std::string_view key, std::string_view value);

// The file's text with `key` in `section` set to `value`. Requires IsStorableProfileEntry
// (throws std::invalid_argument otherwise).
std::string WithProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value);

// The value of `key` in `section` of the file at `path`; `defaultValue` (without its trailing
// blanks, cut like a value) when the file, the section or the key is missing. A file that exists
// but cannot be read throws StoreError("Unable to read <path>").
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue);

// Sets `key` in `section` of the file at `path` to `value`, creating the file, the section or the
// key as needed, and replaces the file by the program's one rule (ReplaceFile). An unchanged file
// is not rewritten. Throws StoreError("Unable to write to <path>"), with the platform's reason,
// when the entry cannot be stored or the file cannot be read or replaced; the file is then as it
// was.
void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace tallyport
