#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tallyport {

// The shell's one rule for showing the bytes of the user's files and for taking texts back
// (control/DisplayText.h) in Qt's strings. Qt strings are for display only; the files keep their
// bytes. Free functions without state: any thread.

QString ShownText(std::string_view bytes);

std::string StoredText(const QString& shown, const std::string& original);

}  // namespace tallyport
