#include <io.h>

#include "base/Win32File.h"
#include "store/FileAccess.h"

namespace tallyport::detail {

FileReader::~FileReader() {
    if (fd_ >= 0) {
        ::_close(fd_);
    }
}

bool FileReader::Open(const std::string& path) {
    // Others may read the file meanwhile and rename or replace it (this handle keeps what it
    // opened), but no one may write it: a writer that has it open keeps this reader out
    // (ERROR_SHARING_VIOLATION: the file cannot be read now), and one that comes later waits
    // until it is read. Windows programs expect exactly this of a file being read.
    const HANDLE handle =
        win32::OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(handle);
        return false;
    }
    fd_ = win32::DescriptorOf(handle);
    return fd_ >= 0;
}

std::ptrdiff_t FileReader::Read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(win32::HandleOf(fd_), buffer, chunk, &got, nullptr)) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

namespace {

// FILETIME counts 100 ns from 1601; the stamp counts nanoseconds from 1970.
std::int64_t Nanoseconds(std::int64_t fileTime) {
    constexpr std::int64_t kFrom1601To1970 = 116444736000000000LL;
    return (fileTime - kFrom1601To1970) * 100;
}

std::int64_t Nanoseconds(const FILETIME& time) {
    return Nanoseconds(
        static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime));
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
    // No access asked: the stamp is read even while a writer keeps others from reading.
    win32::UniqueHandle file(win32::OpenFile(path, FILE_READ_ATTRIBUTES, win32::kShareAll,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.Valid()) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(file.Get(), &info)) {
        return std::nullopt;
    }
    // The change time moves with every write and attribute change, and no program sets it back;
    // a file system that has none gives 0 and the other fields still tell.
    const std::int64_t changed =
        ::GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic)
            ? Nanoseconds(basic.ChangeTime.QuadPart)
            : 0;
    return FileStamp{
        info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
        static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow),
        Nanoseconds(info.ftLastWriteTime), changed};
}

}  // namespace tallyport::detail
