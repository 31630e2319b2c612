#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// The extension of a file name: the text from the last "." that follows the last path or drive
// separator ("/", "\" or ":"), dot included; empty when there is no such dot.
std::string_view FileExtension(std::string_view name);

// The output file name of one register when every register has its own files: the configured
// name as written, then the logical number in decimal, then the configured name's extension
// with its dot. So "Bon.txt" for register 3 gives "Bon.txt3.txt" (not "Bon3.txt"),
// "C:\BO\Bon" gives "C:\BO\Bon3" and "/srv/bo.d/Bon" gives "/srv/bo.d/Bon3". The shell builds
// the workers' file names with it.
std::string PerRegisterFileName(std::string_view name, int logicalNb);

}  // namespace tallyport
