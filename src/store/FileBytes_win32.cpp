#include <system_error>

#include "base/Win32File.h"
#include "store/FileBytes.h"

namespace tallyport {

std::optional<std::string> ReadFileBytes(const std::string& path) {
    // Shared every way: a program's own small files, which a save replaces while another
    // process (a status command) may be reading them.
    win32::UniqueHandle file(win32::OpenFile(path, GENERIC_READ, win32::kShareAll, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return std::nullopt;
        }
        throw std::system_error(static_cast<int>(error), std::system_category(), path);
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                    path);
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, got);
    }
}

}  // namespace tallyport
