#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tallyport {

// The shell's one rule for showing the bytes of the user's files (file names, register rows,
// messages that quote them) and for taking texts back. Qt strings are for display only; the
// files keep their bytes.
//
// - Showing: bytes that are well-formed UTF-8 are shown as UTF-8 (plain ASCII is). Any other
//   bytes are taken as Windows code page 1250 (Central European, the code page of Romanian
//   shops' Windows PCs, which has every Romanian letter), through a fixed table that does not
//   depend on the locale; its five unassigned bytes show as the C1 control of the same number,
//   so every byte has its own character.
// - Taking back: a text that still shows what the original bytes show is given back as those
//   very bytes, so a field the user did not change keeps them. A changed text is written in
//   code page 1250 where the original was not UTF-8 and every character of the new text exists
//   in that code page (the file stays in one code page), and in UTF-8 otherwise.
//
// Free functions without state: any thread.

QString ShownText(std::string_view bytes);

std::string StoredText(const QString& shown, const std::string& original);

}  // namespace tallyport
