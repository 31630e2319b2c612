#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// Small file helpers shared by the stores, the output files and the logs. Free functions
// without state: any thread may call them. Descriptors are the C library's on both platforms (on
// Windows each owns a file handle); failures leave the platform's code (base/SystemError.h) in
// errno on POSIX and in GetLastError() on Windows.

// Writes all of `bytes` to `fd`, going on after partial writes and interruptions. False when a
// write fails (EIO, ERROR_WRITE_FAULT when a write takes nothing).
bool WriteAll(int fd, std::string_view bytes);

// The folder part of `path`: "." for a bare name, the root for a name in the root ("/", "C:\").
std::string FolderOf(const std::string& path);

// Syncs the folder that holds `path`, so that a file created or renamed there survives a crash.
// Best effort: the file's data is synced already, and some file systems cannot sync a folder.
void SyncFolderOf(const std::string& path);

}  // namespace tallyport
