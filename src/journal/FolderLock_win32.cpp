#include <windows.h>

#include "base/FileIo.h"
#include "base/SystemError.h"
#include "base/Win32File.h"
#include "base/Win32Text.h"
#include "journal/FolderLock.h"
#include "journal/JournalFiles.h"

namespace tallyport {

namespace {

// The locked byte lies far beyond the file's text: Windows keeps others from reading a locked
// range, and the second program must read the text to name the one that holds the lock.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

}  // namespace

// LockFileEx on a handle kept open: the lock belongs to that handle, so a second journal in
// the same process is refused as well, and the system lets it go when the process ends,
// however it ends.
std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, const std::string& holder,
                                             std::string& heldBy, std::string& error) {
    const std::string path = folder + "/" + kFileName;
    // Held open for reading only, sharing everything: others read and write the holder's text.
    win32::UniqueHandle file(
        win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!file.Valid()) {
        error = "Cannot open file " + path + ": " + ErrorText(static_cast<int>(::GetLastError()));
        return nullptr;
    }
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at)) {
        const DWORD reason = ::GetLastError();
        if (reason != ERROR_LOCK_VIOLATION && reason != ERROR_IO_PENDING) {
            error = "Cannot lock file " + path + ": " + ErrorText(static_cast<int>(reason));
            return nullptr;
        }
        std::string text;
        std::string readError;
        ReadWholeFile(path, text, readError);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        heldBy = text.empty() ? "alt program" : text;
        return nullptr;
    }
    // Who holds it, for the next one; the lock itself is what counts, so a failure here is no
    // reason to refuse.
    std::string ignored;
    (void)WriteSyncedFile(path, holder + "\n", ignored);
    return std::unique_ptr<FolderLock>(
        new FolderLock(reinterpret_cast<std::intptr_t>(file.Release())));
}

FolderLock::~FolderLock() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));  // the lock goes with the handle
}

std::string FolderLock::ThisProgram() {
    std::wstring program(MAX_PATH, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    program.resize(length < program.size() ? length : 0);
    std::string text = "procesul " + std::to_string(::GetCurrentProcessId());
    if (const std::string path = win32::AnsiPath(program); !path.empty()) {
        text += " (" + path + ")";
    }
    return text;
}

}  // namespace tallyport
