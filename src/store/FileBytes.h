#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// Whole-file reading for the stores' small files (they are replaced through ReplaceFile, in
// base). A free function without shared state: any thread may call it.

// The bytes of the file at `path`, unchanged; nullopt when there is no such file (the file or one
// of its folders is missing). Any other failure (a folder at the path, an I/O error) throws
// std::system_error, so that an unreadable file is never taken for an absent one.
std::optional<std::string> ReadFileBytes(const std::string& path);

}  // namespace tallyport
