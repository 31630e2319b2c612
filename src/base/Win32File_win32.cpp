#include <fcntl.h>
#include <io.h>

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

}  // namespace tallyport::win32
