#include <windows.h>

#include "base/FileIo.h"
#include "base/SystemError.h"
#include "base/Win32File.h"
#include "base/Win32Text.h"
#include "journal/JournalFiles.h"

namespace tallyport {

namespace {

using win32::AppendAll;
using win32::UniqueHandle;
using win32::WriteWhole;

bool Fail(std::string& error, const char* what, const std::string& path, DWORD reason) {
    error = std::string(what) + " " + path + ": " + ErrorText(static_cast<int>(reason));
    return false;
}

bool Fail(std::string& error, const char* what, const std::string& path) {
    return Fail(error, what, path, ::GetLastError());
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The read-only attribute refuses every writer on Windows; asked here as well, so that it
// does where it is a permission bit that a privileged account passes (an emulation run as root).
bool ReadOnly(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path, std::string& error) {
    // No access asked: the stamp is read even while another program keeps readers out.
    UniqueHandle file(win32::OpenFile(path, FILE_READ_ATTRIBUTES, win32::kShareAll, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.Valid()) {
        if (IsMissing(::GetLastError())) {
            return FileStamp{};
        }
        Fail(error, "Cannot read file", path);
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.Get(), &info)) {
        Fail(error, "Cannot read file", path);
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                    ::GetFileType(file.Get()) == FILE_TYPE_DISK;
    const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    const std::uint64_t written = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                  info.ftLastWriteTime.dwLowDateTime;
    stamp.identity = std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index) + ":" +
                     std::to_string(written);
    return stamp;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    UniqueHandle file(win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file.Valid()) {
        return Fail(error, "Cannot read file", path);
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            return Fail(error, "Cannot read file", path);
        }
        if (got == 0) {
            return true;
        }
        bytes.append(buffer, got);
    }
}

bool ReadFileAt(const std::string& path, std::uint64_t offset, std::size_t length,
                std::string& bytes, std::string& error) {
    UniqueHandle file(win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_EXISTING));
    if (!file.Valid()) {
        return Fail(error, "Cannot read file", path);
    }
    bytes.assign(length, '\0');
    std::size_t got = 0;
    while (got < length) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - got, 1u << 30));
        if (!::ReadFile(file.Get(), bytes.data() + got, chunk, &n, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return Fail(error, "Cannot read file", path);
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    bytes.resize(got);
    return true;
}

bool CutFile(const std::string& path, std::uint64_t size, std::string& error) {
    UniqueHandle file(win32::OpenFile(path, GENERIC_WRITE, win32::kShareAll, OPEN_EXISTING));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!file.Valid()) {
        return Fail(error, "Cannot write file", path);
    }
    if (ReadOnly(file.Get())) {
        return Fail(error, "Cannot write file", path, ERROR_ACCESS_DENIED);
    }
    if (!::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.Get()) ||
        !::FlushFileBuffers(file.Get())) {
        return Fail(error, "Cannot write file", path);
    }
    return true;
}

bool MakeFolder(const std::string& path, std::string& error) {
    std::wstring wide;
    if (!win32::WidePath(path, wide)) {
        return Fail(error, "Cannot create folder", path);
    }
    if (::CreateDirectoryW(wide.c_str(), nullptr)) {
        return SyncFolder(FolderOf(path), error);
    }
    const DWORD reason = ::GetLastError();
    if (reason != ERROR_ALREADY_EXISTS) {
        return Fail(error, "Cannot create folder", path, reason);
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Fail(error, "Cannot create folder", path, ERROR_DIRECTORY);
    }
    return true;
}

bool FolderNames(const std::string& path, std::vector<std::string>& names, std::string& error) {
    std::wstring wide;
    if (!win32::WidePath(path, wide)) {
        return Fail(error, "Cannot read folder", path);
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((wide + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return Fail(error, "Cannot read folder", path);
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        // A name the code page cannot spell goes by its short name (the journal's own names
        // are plain ASCII).
        std::optional<std::string> bytes = win32::AnsiFromWide(name);
        if (!bytes && found.cAlternateFileName[0] != L'\0') {
            bytes = win32::AnsiFromWide(found.cAlternateFileName);
        }
        if (bytes) {
            names.push_back(std::move(*bytes));
        }
    } while (::FindNextFileW(search, &found));
    const DWORD reason = ::GetLastError();
    ::FindClose(search);
    if (reason != ERROR_NO_MORE_FILES) {
        return Fail(error, "Cannot read folder", path, reason);
    }
    return true;
}

bool SyncFolder(const std::string& folder, std::string& error) {
    // NTFS keeps a folder's entries in its log, which a file's flush writes too; flushing the
    // folder itself asks for that where the file system allows it. A folder that cannot be
    // flushed (no right to write it, a file system without flushes) is no failure: only a
    // folder that is not there is.
    UniqueHandle handle(win32::OpenFile(folder, GENERIC_READ | GENERIC_WRITE, win32::kShareAll,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle.Valid()) {
        const DWORD reason = ::GetLastError();
        if (IsMissing(reason)) {
            return Fail(error, "Cannot sync folder", folder, reason);
        }
        return true;
    }
    (void)::FlushFileBuffers(handle.Get());
    return true;
}

bool RenameFile(const std::string& from, const std::string& to, std::string& error) {
    std::wstring wideFrom;
    std::wstring wideTo;
    if (!win32::WidePath(from, wideFrom) || !win32::WidePath(to, wideTo) ||
        !::MoveFileExW(wideFrom.c_str(), wideTo.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Fail(error, "Cannot rename file", from);
    }
    return true;
}

bool RemoveFile(const std::string& path, std::string& error) {
    std::wstring wide;
    if (!win32::WidePath(path, wide)) {
        return Fail(error, "Cannot remove file", path);
    }
    if (!::DeleteFileW(wide.c_str()) && !IsMissing(::GetLastError())) {
        return Fail(error, "Cannot remove file", path);
    }
    return true;
}

bool AppendDurably(const std::string& path, std::string_view bytes, std::string& error) {
    // Opened for each append and closed after it, shared every way: a reader never stands in
    // the way of an append, and a file replaced meanwhile is the one appended to.
    UniqueHandle file(
        win32::OpenFile(path, GENERIC_WRITE, win32::kShareAll, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!file.Valid()) {
        return Fail(error, "Cannot open file", path);
    }
    const bool created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        return Fail(error, "Cannot write file", path, ERROR_INVALID_PARAMETER);
    }
    if (ReadOnly(file.Get())) {
        return Fail(error, "Cannot write file", path, ERROR_ACCESS_DENIED);
    }
    LARGE_INTEGER before{};
    if (!::GetFileSizeEx(file.Get(), &before)) {
        return Fail(error, "Cannot write file", path);
    }
    bool ok = AppendAll(file.Get(), bytes);
    DWORD reason = ::GetLastError();
    if (ok && !::FlushFileBuffers(file.Get())) {
        ok = false;
        reason = ::GetLastError();
    }
    if (!ok) {
        // Leave no half record behind: the caller offers the bytes again, whole.
        if (::SetFilePointerEx(file.Get(), before, nullptr, FILE_BEGIN)) {
            (void)::SetEndOfFile(file.Get());
        }
        return Fail(error, "Cannot write file", path, reason);
    }
    if (created) {
        std::string folderError;
        if (!SyncFolder(FolderOf(path), folderError)) {
            // A name that a power cut may take away holds nothing the caller may count on:
            // gone now, it is made again with the bytes at the next try.
            file.Reset();
            std::string ignored;
            (void)RemoveFile(path, ignored);
            error = folderError;
            return false;
        }
    }
    return true;
}

bool WriteSyncedFile(const std::string& path, std::string_view bytes, std::string& error) {
    UniqueHandle file(win32::OpenFile(path, GENERIC_WRITE, win32::kShareAll, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL));
    if (!file.Valid()) {
        return Fail(error, "Cannot open file", path);
    }
    if (!WriteWhole(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) {
        return Fail(error, "Cannot write file", path);
    }
    return true;
}

}  // namespace tallyport
