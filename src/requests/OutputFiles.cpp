#include "requests/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/UniqueFd.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw RequestError(what + " " + path + ": " + std::strerror(error));
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a new file's directory entry durable. Best effort: the data itself is already synced.
void SyncFolder(const std::string& path) {
    int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void AppendLinesToFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }

    bool created = false;
    // O_NONBLOCK: a FIFO without a reader fails at once instead of stopping the worker.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK;
    int raw = ::open(path.c_str(), kFlags);
    if (raw < 0 && errno == ENOENT) {
        raw = ::open(path.c_str(), kFlags | O_CREAT, 0666);
        created = raw >= 0;
    }
    if (raw < 0) {
        Fail("Cannot open file", path, errno);
    }
    UniqueFd file(raw);
    struct stat before {};
    if (::fstat(file.Get(), &before) != 0) {
        Fail("Cannot open file", path, errno);
    }
    if (!S_ISREG(before.st_mode)) {
        Fail("Cannot write file", path, EINVAL);
    }

    bool written = WriteAll(file.Get(), bytes);
    int error = errno;
    if (written && ::fsync(file.Get()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        // Leave no part of these lines behind: they stay pending and go out whole later.
        (void)::ftruncate(file.Get(), before.st_size);
        Fail("Cannot write file", path, error);
    }
    // The lines are on the disk now; what close() reports after a successful fsync cannot undo
    // that, so it must not make the lines pending again (they would be written twice).
    if (created) {
        SyncFolder(path);
    }
}

}  // namespace tallyport
