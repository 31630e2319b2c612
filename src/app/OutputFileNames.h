#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// The extension of a file name: the text from the last "." that follows the last path
// separator ("/", "\" or ":"), dot included; empty when there is no such dot.
std::string_view FileExtension(std::string_view name);

// A register's own output file: the configured name as written, the logical number in
// decimal, then the configured name's extension again ("Tran.txt", 12 -> "Tran.txt12.txt";
// "C:\BO\Bon", 3 -> "C:\BO\Bon3").
std::string PerRegisterFileName(std::string_view name, int logicalNb);

}  // namespace tallyport
