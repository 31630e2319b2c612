#include "base/FileIo.h"
#include "base/SystemError.h"
#include "base/Win32File.h"
#include "requests/OutputFiles.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

using win32::AppendAll;

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD error) {
    throw RequestError(what + " " + path + ": " + ErrorText(static_cast<int>(error)));
}

}  // namespace

void AppendLinesToFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }

    // Shared every way: the back office may read the file, or rename it away to take its
    // lines, while it is open here. A reader that keeps writers out makes the open fail, and
    // the lines stay pending until the next closing.
    win32::UniqueHandle file(
        win32::OpenFile(path, GENERIC_WRITE, win32::kShareAll, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!file.Valid()) {
        Fail("Cannot open file", path, ::GetLastError());
    }
    const bool created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        // A pipe or a device would take the lines without keeping them.
        Fail("Cannot write file", path, ERROR_INVALID_PARAMETER);
    }
    // The read-only attribute refuses every writer on Windows; asked here as well, so that it
    // does where it is a permission bit that a privileged account passes (an emulation run as
    // root).
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file.Get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        Fail("Cannot open file", path, ERROR_ACCESS_DENIED);
    }
    LARGE_INTEGER before{};
    if (!::GetFileSizeEx(file.Get(), &before)) {
        Fail("Cannot open file", path, ::GetLastError());
    }

    bool written = AppendAll(file.Get(), bytes);
    DWORD error = ::GetLastError();
    if (written && !::FlushFileBuffers(file.Get())) {
        written = false;
        error = ::GetLastError();
    }
    if (!written) {
        // Leave no part of these lines behind: they stay pending and go out whole later.
        if (::SetFilePointerEx(file.Get(), before, nullptr, FILE_BEGIN)) {
            (void)::SetEndOfFile(file.Get());
        }
        Fail("Cannot write file", path, error);
    }
    // The lines are on the disk now; what closing the handle reports cannot undo that.
    if (created) {
        SyncFolderOf(path);
    }
}

}  // namespace tallyport
