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

// A file that replaces another one whole: written beside the target, flushed to the disk and
// renamed over it, so that the target is either the old file or the complete new one. The new
// file is removed by the destructor unless Commit() succeeded. A target that is a symbolic
// link is followed (the link stays); the replaced file's permissions are kept.
class FileReplacer {
public:
    FileReplacer() = default;
    ~FileReplacer();
    FileReplacer(const FileReplacer&) = delete;
    FileReplacer& operator=(const FileReplacer&) = delete;

    // False when the file cannot be created (its folder is missing, the target is a folder).
    bool Create(const std::string& path);
    // Writes `bytes` with one write call (continued only after a partial write).
    bool Write(std::string_view bytes);
    // Flushes to the disk and closes; false when either failed.
    bool Finish();
    // Puts the new file in the target's place; false when that failed.
    bool Commit();

private:
    std::string target_;
    std::string name_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
};

// The file's modification time in nanoseconds since the epoch, with the file system's full
// precision; nullopt when the file does not exist or cannot be examined.
std::optional<std::int64_t> FileModificationTime(const std::string& path);

}  // namespace tallyport::detail
