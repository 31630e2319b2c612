#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyport::win32 {

// Texts between the program's bytes and the UTF-16 of the Windows calls. Included only by the
// `*_win32.cpp` files. Free functions without state: any thread.
//
// The program keeps file names as the bytes of its files, which on Windows are in the shop's
// ANSI code page (the one the back office writes them in, GetACP()). A name goes to the wide
// (*W) calls as MultiByteToWideChar(CP_ACP) makes it, which is the file the same bytes name for
// the C library and the back office's *A calls. A name is used only when that is faithful: bytes
// that the code page does not define, or that do not come back as the same bytes, would open a
// file of another name, so such a name is refused (ERROR_NO_UNICODE_TRANSLATION) instead.

// The wide form of `bytes`; nullopt when the code page cannot carry them faithfully.
std::optional<std::wstring> WideFromAnsi(std::string_view bytes);

// The bytes of `text` in the code page; nullopt when a character has none there (no best fit:
// a name written back must be the very name that was read).
std::optional<std::string> AnsiFromWide(std::wstring_view text);

// A path from the system (the program's file, a known folder) as bytes: in the code page, or
// where a character has no byte there, the same path by its short (8.3) names; empty when
// neither exists.
std::string AnsiPath(const std::wstring& path);

// The system's message for a Win32 error code, in the code page, without a line end or a final
// full stop ("Access is denied").
std::string SystemErrorText(unsigned long code);

}  // namespace tallyport::win32
