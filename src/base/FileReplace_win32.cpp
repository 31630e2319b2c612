#include <windows.h>
// windows.h names ReplaceFileA/W "ReplaceFile", which is this file's own function.
#undef ReplaceFile

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "base/FileIo.h"
#include "base/FileReplace.h"
#include "base/Paths.h"
#include "base/Win32File.h"
#include "base/Win32Text.h"

namespace tallyport {

namespace {

using win32::WriteWhole;

using Step = ReplaceOutcome::Step;
using win32::UniqueHandle;

// The attributes a replaced file keeps (the read-only one never comes this far).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The file's access list (its discretionary part), to give to the file that replaces it.
std::vector<char> AccessListOf(const std::wstring& path) {
    DWORD needed = 0;
    ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<char> descriptor(needed);
    if (needed == 0 || !::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION,
                                           descriptor.data(), needed, &needed)) {
        descriptor.clear();
    }
    return descriptor;
}

// ReplaceFileW keeps the old file's attributes and access list on Windows; some file systems
// and emulations do not. What did not come over is put back, so that the rule holds on all.
void KeepWhatTheOldFileHad(const std::wstring& path, DWORD attributes,
                           const std::vector<char>& accessList) {
    const DWORD now = ::GetFileAttributesW(path.c_str());
    if (now != INVALID_FILE_ATTRIBUTES &&
        (now & kKeptAttributes) != (attributes & kKeptAttributes)) {
        ::SetFileAttributesW(path.c_str(),
                             (now & ~kKeptAttributes) | (attributes & kKeptAttributes));
    }
    if (!accessList.empty() && AccessListOf(path) != accessList) {
        ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION,
                           const_cast<char*>(accessList.data()));
    }
}

ReplaceOutcome Failed(Step step, DWORD error) {
    return ReplaceOutcome{step, static_cast<int>(error), false};
}

// The file a save replaces: the final target of a symbolic link, so that the link stays.
std::string ReplacedFile(const std::string& path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    return CanonicalPath(path);
}

// A temporary file beside the target: removed again unless it took the target's place.
class TempFile {
public:
    // The Win32 code of the creation; 0 when the file exists.
    DWORD Create(const std::string& folder) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const unsigned long long tag = (std::uint64_t{random()} << 32) ^ random();
            char name[40];
            std::snprintf(name, sizeof name, ".tallyport-%016llx.tmp", tag);
            std::string candidate = JoinPath(folder, name);
            handle_ = UniqueHandle(win32::OpenFile(candidate, GENERIC_WRITE, win32::kShareAll,
                                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
            if (handle_.Valid()) {
                path_ = std::move(candidate);
                return 0;
            }
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                return error;
            }
        }
        return ERROR_FILE_EXISTS;
    }
    ~TempFile() {
        handle_.Reset();
        if (!path_.empty()) {
            std::wstring wide;
            if (win32::WidePath(path_, wide)) {
                ::DeleteFileW(wide.c_str());
            }
        }
    }

    HANDLE Handle() const { return handle_.Get(); }
    const std::string& Path() const { return path_; }
    void Close() { handle_.Reset(); }
    // After the move the name belongs to the real file.
    void Committed() { path_.clear(); }

private:
    UniqueHandle handle_;
    std::string path_;
};

bool FolderRefusesNewFiles(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

// Rewrites an open file from its start: the fallback where the file cannot be replaced whole.
ReplaceOutcome WriteInPlace(HANDLE file, std::string_view bytes) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !WriteWhole(file, bytes) ||
        !::SetEndOfFile(file) || !::FlushFileBuffers(file)) {
        return Failed(Step::Write, ::GetLastError());
    }
    return ReplaceOutcome{Step::None, 0, true};
}

// ReplaceFileW failed and said that the old file is still in place under its name.
bool OldFileUntouched(DWORD error) {
    return error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

}  // namespace

ReplaceOutcome ReplaceFile(const std::string& path, std::string_view bytes) {
    std::wstring widePath;
    if (path.empty()) {
        return Failed(Step::Create, ERROR_PATH_NOT_FOUND);
    }
    if (!win32::WidePath(path, widePath)) {
        return Failed(Step::Create, ::GetLastError());
    }
    // A full path for every call below: ReplaceFileW does not take a name relative to the
    // working folder everywhere.
    const std::string target =
        AbsolutePath(ReplacedFile(path, ::GetFileAttributesW(widePath.c_str())));
    std::wstring wideTarget;
    if (!win32::WidePath(target, wideTarget)) {
        return Failed(Step::Create, ::GetLastError());
    }
    const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        return Failed(Step::Create, ::GetLastError());
    }
    // A folder by that name refuses as Windows refuses writing a folder.
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Failed(Step::Create, ERROR_ACCESS_DENIED);
    }
    // The read-only attribute refuses every writer on Windows, an administrator too. Asked here
    // as well, so that the rule holds where the attribute is a permission bit that a
    // privileged account passes (a POSIX file system under an emulation run as root).
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return Failed(Step::Create, ERROR_ACCESS_DENIED);
    }
    // The test of a plain write: opening the file for writing changes nothing in it, and it
    // refuses exactly where a plain write would be refused (no right to write it, a read-only
    // medium, another program that keeps writers out).
    UniqueHandle existing;
    if (exists) {
        existing =
            UniqueHandle(::CreateFileW(wideTarget.c_str(), GENERIC_WRITE, win32::kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!existing.Valid()) {
            return Failed(Step::Create, ::GetLastError());
        }
    }

    TempFile temp;
    if (const DWORD error = temp.Create(FolderOf(target)); error != 0) {
        if (exists && FolderRefusesNewFiles(error)) {
            return WriteInPlace(existing.Get(), bytes);
        }
        return Failed(Step::Create, error);
    }
    if (!WriteWhole(temp.Handle(), bytes) || !::FlushFileBuffers(temp.Handle())) {
        return Failed(Step::Write, ::GetLastError());
    }
    temp.Close();
    std::wstring wideTemp;
    win32::WidePath(temp.Path(), wideTemp);

    if (!exists) {
        // No MOVEFILE_REPLACE_EXISTING: a file that appeared meanwhile is not overwritten.
        if (!::MoveFileExW(wideTemp.c_str(), wideTarget.c_str(), MOVEFILE_WRITE_THROUGH)) {
            return Failed(Step::Write, ::GetLastError());
        }
        temp.Committed();
        SyncFolderOf(target);
        return {};
    }
    // ReplaceFileW gives the new file the old one's attributes, security (its access list),
    // creation time and short name. It needs the old file to itself: the handle goes first.
    const std::vector<char> accessList = AccessListOf(wideTarget);
    existing.Reset();
    if (!::ReplaceFileW(wideTarget.c_str(), wideTemp.c_str(), nullptr, 0, nullptr, nullptr)) {
        const DWORD error = ::GetLastError();
        if (!OldFileUntouched(error)) {
            return Failed(Step::Write, error);
        }
        // The old file cannot give up its place (its access list cannot be carried over, or
        // another program holds it without sharing its deletion): it is written where it is.
        existing =
            UniqueHandle(::CreateFileW(wideTarget.c_str(), GENERIC_WRITE, win32::kShareAll, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!existing.Valid()) {
            return Failed(Step::Write, error);
        }
        return WriteInPlace(existing.Get(), bytes);
    }
    temp.Committed();
    KeepWhatTheOldFileHad(wideTarget, attributes, accessList);
    SyncFolderOf(target);
    return {};
}

}  // namespace tallyport
