#include "requests/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/FileIo.h"
#include "base/UniqueFd.h"
#include "requests/RequestError.h"

namespace tallyport {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw RequestError(what + " " + path + ": " + std::strerror(error));
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
        SyncFolderOf(path);
    }
}

}  // namespace tallyport
