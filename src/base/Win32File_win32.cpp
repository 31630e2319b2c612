#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "base/Win32File.h"
#include "base/Win32Text.h"

namespace tallyport::win32 {

bool WidePath(const std::string& path, std::wstring& wide) {
    std::optional<std::wstring> converted = WideFromAnsi(path);
    if (!converted) {
        ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    wide = std::move(*converted);
    return true;
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                DWORD flags) {
    std::wstring wide;
    if (!WidePath(path, wide)) {
        return INVALID_HANDLE_VALUE;
    }
    if (wide.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

int DescriptorOf(HANDLE handle) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        ::SetLastError(error == 0 ? ERROR_TOO_MANY_OPEN_FILES : error);
    }
    return fd;
}

HANDLE HandleOf(int fd) {
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool WriteWhole(HANDLE file, std::string_view bytes, bool atEnd) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        OVERLAPPED end{};
        end.Offset = 0xFFFFFFFF;  // an offset of all ones: the end of the file
        end.OffsetHigh = 0xFFFFFFFF;
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, atEnd ? &end : nullptr)) {
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

}  // namespace tallyport::win32
