#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::detail {

// A file opened for reading in blocks; others may read it meanwhile, and a writer that takes
// the platform's file lock is kept out. Closed by the destructor on every path.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // False when the file does not exist, is a folder or cannot be opened for reading.
    bool Open(const std::string& path);
    // Bytes read into `buffer`, 0 at the end of the file, -1 on a read error.
    std::ptrdiff_t Read(char* buffer, std::size_t size);

private:
    int fd_ = -1;
};

// What identifies one state of a file: the file (device and inode), its size, and its
// modification and status-change times with the file system's full precision. A rewrite
// within one tick of a coarse clock (same modification time) still shows: a replaced file has
// a new inode, a file rewritten in place a new size or a later status-change time (which no
// program can set back). Only a same-size rewrite in place within one tick of both times
// cannot be told from the file it replaced.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since the epoch
    std::int64_t changed = 0;   // nanoseconds since the epoch

    bool operator==(const FileStamp&) const = default;
};

// The file's stamp; nullopt when the file does not exist or cannot be examined.
std::optional<FileStamp> StampOf(const std::string& path);

}  // namespace tallyport::detail
