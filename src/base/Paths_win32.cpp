#include <filesystem>
#include <optional>

#include "base/FileIo.h"
#include "base/Paths.h"
#include "base/UniqueFd.h"
#include "base/Win32File.h"
#include "base/Win32Text.h"

namespace tallyport {
namespace {

namespace fs = std::filesystem;

// The lexical steps work on the wide form, where a separator is never the second byte of a
// double-byte character; the result goes back to the same code page. A name that the code page
// cannot carry is worked on as it is (any use of it fails later with its reason).
std::optional<fs::path> Wide(const std::string& path) {
    std::optional<std::wstring> wide = win32::WideFromAnsi(path);
    if (!wide) {
        return std::nullopt;
    }
    return fs::path(std::move(*wide));
}

std::string Bytes(const fs::path& path) {
    return win32::AnsiFromWide(path.native()).value_or(std::string());
}

fs::path WithoutTrailingSeparator(fs::path path) {
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) {
        path = path.parent_path();
    }
    return path;
}

int LastError() {
    return static_cast<int>(::GetLastError());
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The length of a "\\server\share" at the start of a network path (either separator), which
// the path library does not take for a root; 0 for any other path.
std::size_t NetworkRootLength(const std::wstring& path) {
    if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2])) {
        return 0;
    }
    std::size_t end = 2;
    for (int part = 0; part < 2 && end < path.size(); ++part) {
        while (end < path.size() && IsSeparator(path[end])) {
            ++end;
        }
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
    }
    return end;
}

// A network path's root with "\\" separators, and the rest below it (from its separator).
struct NetworkPath {
    std::wstring root;
    std::wstring rest;
};

std::optional<NetworkPath> SplitNetworkPath(const std::wstring& path) {
    const std::size_t length = NetworkRootLength(path);
    if (length == 0) {
        return std::nullopt;
    }
    NetworkPath split{path.substr(0, length), path.substr(length)};
    for (wchar_t& c : split.root) {
        c = IsSeparator(c) ? L'\\' : c;
    }
    return split;
}

// The part of a network path below its share, from one separator (as a path from a root).
fs::path Below(const NetworkPath& network) {
    std::size_t start = 0;
    while (start < network.rest.size() && IsSeparator(network.rest[start])) {
        ++start;
    }
    return fs::path(L"\\" + network.rest.substr(start));
}

// The normal form of a wide path, network paths included.
fs::path Normal(const fs::path& path) {
    if (const auto network = SplitNetworkPath(path.native())) {
        // Below the share as below a root: ".." stops at it.
        const fs::path rest = WithoutTrailingSeparator(Below(*network).lexically_normal());
        return network->root + (rest.native() == L"\\" ? std::wstring() : rest.native());
    }
    return WithoutTrailingSeparator(path.lexically_normal());
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (name.empty() || IsAbsolutePath(name)) {
        return name.empty() ? folder : name;
    }
    const auto wideFolder = Wide(folder);
    const auto wideName = Wide(name);
    if (!wideFolder || !wideName || SplitNetworkPath(wideFolder->native())) {
        return folder.empty() || folder.back() == '\\' || folder.back() == '/'
                   ? folder + name
                   : folder + "\\" + name;
    }
    return Bytes(*wideFolder / *wideName);
}

std::string NormalPath(const std::string& path) {
    const auto wide = Wide(path);
    if (!wide) {
        return path;
    }
    return Bytes(Normal(*wide));
}

bool IsAbsolutePath(const std::string& path) {
    const auto wide = Wide(path);
    return wide && (wide->is_absolute() || SplitNetworkPath(wide->native()));
}

std::string ParentFolder(const std::string& path) {
    const auto wide = Wide(path);
    if (!wide) {
        const std::size_t separator = path.find_last_of("\\/");
        return separator == std::string::npos ? std::string() : path.substr(0, separator);
    }
    if (const auto network = SplitNetworkPath(wide->native())) {
        const fs::path rest = Below(*network).parent_path();
        return Bytes(network->root + (rest.native() == L"\\" ? std::wstring() : rest.native()));
    }
    return Bytes(wide->parent_path());
}

std::string ComparablePath(const std::string& path) {
    const auto wide = Wide(AbsolutePath(path));
    if (!wide) {
        return path;
    }
    std::wstring key = Normal(*wide).native();
    // File names ignore case; the system's upper case is what it compares them by.
    if (!key.empty()) {
        ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    }
    return win32::AnsiFromWide(key).value_or(path);
}

std::string AbsolutePath(const std::string& path) {
    std::wstring wide;
    if (path.empty() || !win32::WidePath(path, wide)) {
        return path;
    }
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return path;
    }
    std::wstring full(length, L'\0');
    const DWORD written = ::GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) {
        return path;
    }
    full.resize(written);
    return win32::AnsiFromWide(Normal(fs::path(full)).native()).value_or(path);
}

std::string CanonicalPath(const std::string& path) {
    const std::string absolute = AbsolutePath(path);
    win32::UniqueHandle file(
        win32::OpenFile(absolute, 0, win32::kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.Valid()) {
        return absolute;  // nothing there yet: its name as given is the only one
    }
    std::wstring final(MAX_PATH, L'\0');
    DWORD length =
        ::GetFinalPathNameByHandleW(file.Get(), final.data(), static_cast<DWORD>(final.size()), 0);
    if (length >= final.size()) {
        final.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(file.Get(), final.data(),
                                             static_cast<DWORD>(final.size()), 0);
    }
    if (length == 0 || length >= final.size()) {
        return absolute;
    }
    final.resize(length);
    // "\\?\C:\x" is "C:\x"; "\\?\UNC\server\share" is "\\server\share".
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        final = L"\\\\" + final.substr(8);
    } else if (final.rfind(L"\\\\?\\", 0) == 0) {
        final = final.substr(4);
    }
    const std::string resolved = win32::AnsiPath(final);
    return resolved.empty() ? absolute : resolved;
}

std::string WorkingFolder() {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) {
        return {};
    }
    std::wstring folder(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, folder.data());
    if (written == 0 || written >= length) {
        return {};
    }
    folder.resize(written);
    return win32::AnsiPath(folder);
}

int ChangeWorkingFolder(const std::string& folder) {
    std::wstring wide;
    if (!win32::WidePath(folder, wide)) {
        return LastError();
    }
    return ::SetCurrentDirectoryW(wide.c_str()) ? 0 : LastError();
}

int MakeFolders(const std::string& folder) {
    const auto wide = Wide(AbsolutePath(folder));
    if (!wide) {
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    // Each folder from the root down; one that is there already is passed.
    fs::path made = wide->root_path();
    for (const fs::path& part : wide->relative_path()) {
        if (part.empty()) {
            continue;
        }
        made /= part;
        if (::CreateDirectoryW(made.c_str(), nullptr)) {
            continue;
        }
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(made.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return static_cast<int>(error);
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return ERROR_ALREADY_EXISTS;  // a file where a folder should be
        }
    }
    return 0;
}

bool PathExists(const std::string& path) {
    std::wstring wide;
    if (!win32::WidePath(path, wide)) {
        return false;  // no file can have a name the code page cannot carry
    }
    if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
           error != ERROR_INVALID_NAME && error != ERROR_BAD_NETPATH;
}

NewFile CreateNewFile(const std::string& path, const std::string& bytes, int& error) {
    const HANDLE handle =
        win32::OpenFile(path, GENERIC_WRITE, win32::kShareAll, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::Existed
                                                                           : NewFile::NotCreated;
    }
    UniqueFd file(win32::DescriptorOf(handle));
    if (!file.Valid() || !WriteAll(file.Get(), bytes)) {
        error = LastError();
        return NewFile::NotWritten;
    }
    return NewFile::Created;
}

int RemoveFile(const std::string& path) {
    std::wstring wide;
    if (!win32::WidePath(path, wide)) {
        return LastError();
    }
    if (::DeleteFileW(wide.c_str())) {
        return 0;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0
                                                                          : static_cast<int>(error);
}

}  // namespace tallyport
