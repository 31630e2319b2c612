#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tallyport {

// The program's arguments as bytes of the code page, as the rest of the program keeps texts
// and file names (base/Win32Text.h): read from the wide command line, so that a file name the
// code page cannot spell comes by its short name instead of with "?" in it. nullopt, with
// `failed` set to the argument's position, when one can be neither. Main thread.
std::optional<std::vector<std::string>> ProgramArguments(std::string& failed);

}  // namespace tallyport
