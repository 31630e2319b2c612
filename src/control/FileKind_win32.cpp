#include <windows.h>

#include "base/Win32File.h"
#include "control/FileKind.h"

namespace tallyport {

bool IsFile(const std::string& path) {
    std::wstring wide;
    if (!win32::WidePath(path, wide)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace tallyport
