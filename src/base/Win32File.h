#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace tallyport::win32 {

// Handles and file names for the `*_win32.cpp` files only (it includes <windows.h>).

// Owns one handle and closes it when it goes out of scope, so that no early return leaks one.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    [[nodiscard]] HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    void Reset() {
        if (Valid()) {
            ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
        }
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Every sharing mode: the program's own opens never stand in the way of a reader, a writer or a
// replacement (a rename over the file) elsewhere; where it must keep writers out it asks for
// less.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// CreateFileW on the bytes of `path` (Win32Text.h). An invalid handle on failure, with the
// reason in GetLastError() (ERROR_NO_UNICODE_TRANSLATION for a name the code page cannot carry).
HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                DWORD flags = FILE_ATTRIBUTE_NORMAL);

// The wide form of a path for the other *W calls; false, with ERROR_NO_UNICODE_TRANSLATION set,
// when the code page cannot carry it.
bool WidePath(const std::string& path, std::wstring& wide);

// A C library descriptor that owns `handle` (closed with the descriptor), so that the program's
// descriptors (UniqueFd, WriteAll) work alike on both platforms; -1 on failure, when the handle
// is closed.
int DescriptorOf(HANDLE handle);

// Writes every byte, in chunks of at most 1 GiB: at the file's current position, or with
// `atEnd` each chunk at the end of the file (the system's append: nothing another writer added
// meanwhile is overwritten). False with the reason in GetLastError() (ERROR_WRITE_FAULT for a
// write that took nothing).
bool WriteWhole(HANDLE file, std::string_view bytes, bool atEnd = false);
inline bool AppendAll(HANDLE file, std::string_view bytes) {
    return WriteWhole(file, bytes, true);
}

// The handle behind a descriptor (owned by the descriptor); INVALID_HANDLE_VALUE when none.
HANDLE HandleOf(int fd);

}  // namespace tallyport::win32
