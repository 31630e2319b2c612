#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// The shells' one rule for showing the bytes of the user's files (file names, register rows,
// messages that quote them) and for taking typed texts back. The shell gets and gives UTF-8;
// converting that to its toolkit's strings (QString, UTF-16) is all it does itself. The files
// keep their bytes.
//
// - Showing: bytes that are well-formed UTF-8 are shown as they are (plain ASCII is). Any other
//   bytes are taken as Windows code page 1250 (Central European, the code page of Romanian
//   shops' Windows PCs, which has every Romanian letter), through a fixed table that does not
//   depend on the locale; its five unassigned bytes show as the C1 control of the same number,
//   so every byte has its own character.
// - Taking back: a text that still shows what the original bytes show is given back as those
//   very bytes, so a field the user did not change keeps them. A changed text is written in
//   code page 1250 where the original was not UTF-8 and every character of the new text exists
//   in that code page (the file stays in one code page), and in UTF-8 otherwise.
//
// Free functions without state: any thread. Never throw (but for memory).

// The text (UTF-8) that shows `bytes`.
std::string DisplayText(std::string_view bytes);

// The bytes to store for the shown text `shown` (UTF-8) of a field filled from `original`.
// A `shown` that is not well-formed UTF-8 is stored as it is.
std::string StoredBytes(std::string_view shown, const std::string& original);

}  // namespace tallyport
