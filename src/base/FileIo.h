#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// Small file helpers shared by the stores, the output files and the logs. Free functions
// without state: any thread may call them.

// Writes all of `bytes` to `fd`, going on after partial writes and interruptions. False when a
// write fails (errno tells why; EIO when a write takes nothing).
bool WriteAll(int fd, std::string_view bytes);

// The folder part of `path`: "." for a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& path);

// Syncs the folder that holds `path`, so that a file created or renamed there survives a crash.
// Best effort: the file's data is synced already, and some file systems cannot sync a folder.
void SyncFolderOf(const std::string& path);

}  // namespace tallyport
