#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "base/FileIo.h"
#include "store/FileAccess.h"

namespace tallyport::detail {

FileReader::~FileReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool FileReader::Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    struct stat info;
    bool usable = ::fstat(fd_, &info) == 0 && !S_ISDIR(info.st_mode);
    // A writer holding the lock is still writing: the file cannot be read now.
    if (usable && ::flock(fd_, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        usable = false;
    }
    if (!usable) {
        ::close(fd_);
        fd_ = -1;
    }
    return usable;
}

std::ptrdiff_t FileReader::Read(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

namespace {

// The file a save replaces: the target of a symbolic link, so that the link stays.
std::string ReplacedFile(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

}  // namespace

FileReplacer::~FileReplacer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (created_ && !committed_) {
        ::unlink(name_.c_str());
    }
}

bool FileReplacer::Create(const std::string& path) {
    target_ = ReplacedFile(path);
    struct stat existing;
    bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return false;
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name_ = target_ + "." + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1)) + ".tmp";
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST) {
            break;
        }
    }
    if (fd_ < 0) {
        return false;
    }
    created_ = true;
    if (exists) {
        ::fchmod(fd_, existing.st_mode & 07777);
    }
    return true;
}

bool FileReplacer::Write(std::string_view bytes) {
    return WriteAll(fd_, bytes);
}

bool FileReplacer::Finish() {
    bool synced = ::fsync(fd_) == 0;
    int fd = fd_;
    fd_ = -1;
    bool closed = ::close(fd) == 0;
    return synced && closed;
}

bool FileReplacer::Commit() {
    if (::rename(name_.c_str(), target_.c_str()) != 0) {
        return false;
    }
    committed_ = true;
    SyncFolderOf(target_);
    return true;
}

std::optional<std::int64_t> FileModificationTime(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

}  // namespace tallyport::detail
