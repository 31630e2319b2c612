#include "store/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>

#include "base/FileIo.h"
#include "base/UniqueFd.h"

namespace tallyport {

namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// A temporary file being written: removed again unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(const std::string& folder) : fd_(-1) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::uint64_t tag = (std::uint64_t{random()} << 32) ^ random();
            char name[40];
            std::snprintf(name, sizeof name, "/.tallyport-%016llx.tmp",
                          static_cast<unsigned long long>(tag));
            std::string candidate = folder + name;
            // 0666 so that a new file gets the umask's mode, like any other file created here.
            int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_ = fd;
                path_ = std::move(candidate);
                return;
            }
            if (errno != EEXIST) {
                ThrowErrno(errno, folder);
            }
        }
        ThrowErrno(EEXIST, folder);
    }
    ~TempFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

    // Closes now and reports the error that close() gives (a late write-back error on some file
    // systems), which the destructor would have to swallow.
    int Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

    // After the rename the name belongs to the real file.
    void Committed() { path_.clear(); }

private:
    int fd_;
    std::string path_;
};

// The file that a write must replace: the final target of a symbolic link, so that the link
// itself stays in place.
std::string ResolveTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        ThrowErrno(errno, path);
    }
    return resolved;
}

void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ThrowErrno(errno, folder);
    }
    UniqueFd guard(fd);
    // Some file systems cannot sync a folder; the rename is then as durable as they make it.
    if (::fsync(fd) != 0 && errno != EINVAL) {
        ThrowErrno(errno, folder);
    }
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        ThrowErrno(errno, path);
    }
    UniqueFd guard(fd);
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno(errno, path);
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

void ReplaceFileBytes(const std::string& path, std::string_view bytes) {
    if (path.empty()) {
        ThrowErrno(ENOENT, path);
    }
    std::string target = ResolveTarget(path);
    struct stat old {};
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        ThrowErrno(errno, target);
    }
    if (exists && !S_ISREG(old.st_mode)) {
        ThrowErrno(S_ISDIR(old.st_mode) ? EISDIR : EINVAL, target);
    }
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        ThrowErrno(errno, target);
    }

    std::string folder = FolderOf(target);
    TempFile temp(folder);
    if (!WriteAll(temp.Fd(), bytes)) {
        ThrowErrno(errno, temp.Path());
    }
    if (exists) {
        if (::fchmod(temp.Fd(), old.st_mode & 07777) != 0) {
            ThrowErrno(errno, temp.Path());
        }
        if (::fchown(temp.Fd(), old.st_uid, old.st_gid) != 0) {
            // Keeping the owner needs the right to change it; without that right the file
            // becomes the writer's, as any file it writes would.
        }
    }
    if (::fsync(temp.Fd()) != 0) {
        ThrowErrno(errno, temp.Path());
    }
    if (int error = temp.Close(); error != 0) {
        ThrowErrno(error, temp.Path());
    }
    if (::rename(temp.Path().c_str(), target.c_str()) != 0) {
        ThrowErrno(errno, target);
    }
    temp.Committed();
    SyncFolder(folder);
}

}  // namespace tallyport
