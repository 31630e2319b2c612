#include <io.h>

#include "base/FileIo.h"
#include "base/Paths.h"
#include "base/UniqueFd.h"
#include "base/Win32File.h"

namespace tallyport {

// The program's descriptors on Windows are the C library's, each owning a handle
// (win32::DescriptorOf); the writes go to the handle, so that a failure keeps its Win32 code.
void CloseDescriptor(int fd) noexcept {
    (void)::_close(fd);
}

bool WriteAll(int fd, std::string_view bytes) {
    const HANDLE handle = win32::HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    while (!bytes.empty()) {
        // One call takes at most 1 GiB, far below a DWORD's range.
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            return false;
        }
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::string folder = ParentFolder(path);
    return folder.empty() ? "." : folder;
}

void SyncFolderOf(const std::string& path) {
    // NTFS writes a folder's entries through its own log; flushing the folder asks for that log
    // to reach the disk where the file system allows it. Best effort, as on POSIX.
    win32::UniqueHandle folder(win32::OpenFile(FolderOf(path), GENERIC_READ | GENERIC_WRITE,
                                               win32::kShareAll, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS));
    if (folder.Valid()) {
        (void)::FlushFileBuffers(folder.Get());
    }
}

}  // namespace tallyport
