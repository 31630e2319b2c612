#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// Whole-file access for the stores' small files. Free functions without shared state: any thread
// may call them, but two writers of the same file must be serialised by their owner.

// The bytes of the file at `path`, unchanged; nullopt when there is no such file (the file or one
// of its folders is missing). Any other failure (a folder at the path, an I/O error) throws
// std::system_error, so that an unreadable file is never taken for an absent one.
std::optional<std::string> ReadFileBytes(const std::string& path);

// Replaces the file at `path` by `bytes` so that a crash leaves either the old or the new file:
// the bytes go to a temporary file in the same folder, are synced, and the temporary file is
// renamed over the original, then the folder is synced. A symbolic link is followed and kept; the
// mode of an existing file is kept. A file the caller may not write (a read-only file) is not
// replaced. Throws std::system_error; on failure the old file is untouched and no temporary file
// remains.
void ReplaceFileBytes(const std::string& path, std::string_view bytes);

}  // namespace tallyport
