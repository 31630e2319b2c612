#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

// The file operations of the journal and of a restart's appends: the platform part
// (JournalFiles_posix.cpp; a JournalFiles_win32.cpp beside it is all Windows needs). Free
// functions without state: any thread may call them. None throws: each gives false (or
// nothing) and puts the file and the system's reason in `error`.

// What a restart compares to tell whether a file changed after a size was recorded: a file
// rewritten, cut or appended to gets another size, identity or modification time.
struct FileStamp {
    std::uint64_t size = 0;
    std::string identity;  // device, file number and modification time (nanoseconds) as text
    bool regular = true;   // false for a folder or a device standing where the file should be
};
// The stamp of the file at `path`; a missing file is size 0 with an empty identity. Nothing
// (and `error`) when the file cannot be examined.
std::optional<FileStamp> StampOf(const std::string& path, std::string& error);

// The whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);
// At most `length` bytes of the file from `offset` (fewer at its end).
bool ReadFileAt(const std::string& path, std::uint64_t offset, std::size_t length,
                std::string& bytes, std::string& error);
// Cuts the file to `size` bytes and syncs it.
bool CutFile(const std::string& path, std::uint64_t size, std::string& error);

// Makes the folder when it is missing (and syncs the folder that holds it).
bool MakeFolder(const std::string& path, std::string& error);
// The names in a folder ("." and ".." left out).
bool FolderNames(const std::string& path, std::vector<std::string>& names, std::string& error);
// Syncs a folder, so that a file created, renamed or removed in it survives a power cut.
bool SyncFolder(const std::string& folder, std::string& error);
bool RenameFile(const std::string& from, const std::string& to, std::string& error);
bool RemoveFile(const std::string& path, std::string& error);

// Appends `bytes` to the file (made when missing) with one write and a data sync. All or
// nothing: a failed write or sync cuts the file back to its size before the call; a file this
// call made is removed again when its folder cannot be synced.
bool AppendDurably(const std::string& path, std::string_view bytes, std::string& error);
// Writes `bytes` as the new file `path` (replacing one there) and syncs it, for a rename over
// another file afterwards.
bool WriteSyncedFile(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace tallyport
