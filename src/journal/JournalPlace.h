#pragma once

#include <string>

namespace tallyport {

// Where the journal was last used, remembered in a small file beside the program's
// configuration (one line: the folder's absolute path), so that a change of the transaction
// file's path never strands the journal: the next start carries it to its new place
// (ReceiptJournal::Load). Free functions without state; the shell calls them on its thread.

// "<the configuration's folder>/Tallyport.journal-folder".
std::string JournalPointerBeside(const std::string& configPath);
// The folder the pointer names; "" when there is none (or it cannot be read).
std::string RememberedJournalFolder(const std::string& pointerPath);
// Writes the pointer (replacing the file); false with the reason in `error` when it cannot.
bool RememberJournalFolder(const std::string& pointerPath, const std::string& folder,
                           std::string& error);
// `folder` as an absolute path without "." or ".." parts, for the pointer and comparisons.
std::string AbsoluteFolder(const std::string& folder);

}  // namespace tallyport
