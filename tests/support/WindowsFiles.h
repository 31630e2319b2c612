#pragma once

// Looking at files the way Windows keeps them, for the `*_win32.cpp` tests only (it includes
// <windows.h>). Names are the program's bytes in the code page, as everywhere.
#include <windows.h>
// windows.h's names for its own functions that the program's stores also use.
#undef WriteProfileString
#undef ReplaceFile

#include <cstdint>
#include <string>
#include <vector>

#include "base/Win32File.h"
#include "base/Win32Text.h"

namespace tallyport::test {

inline std::wstring Wide(const std::string& path) {
    return win32::WideFromAnsi(path).value_or(L"?");
}

inline DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(Wide(path).c_str());
}

inline bool SetAttributes(const std::string& path, DWORD attributes) {
    return ::SetFileAttributesW(Wide(path).c_str(), attributes) != FALSE;
}

// The file's identity on its volume: a replaced file is another file.
inline std::uint64_t FileIndexOf(const std::string& path) {
    win32::UniqueHandle file(
        win32::OpenFile(path, 0, win32::kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) {
        return 0;
    }
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

// A handle another program would hold on the file, with its sharing.
inline win32::UniqueHandle HoldFile(const std::string& path, DWORD access, DWORD share) {
    return win32::UniqueHandle(win32::OpenFile(path, access, share, OPEN_EXISTING));
}

// The names in the folder as the system keeps them.
inline std::vector<std::wstring> WideNamesIn(const std::string& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((Wide(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

}  // namespace tallyport::test
